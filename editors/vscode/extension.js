// quern in VS Code: starts `quern --lsp` for *.quern files and a course's
// *.c files, and shows the compiled assembly in a panel beside the source.
// Everything the panel shows comes from the server's quern.showAssembly
// command, line by line as the compiler's answer gives it.
const vscode = require("vscode");
const { LanguageClient } = require("vscode-languageclient/node");

let client;
let panel;
let shown; // the URI of the document the panel shows

function escape(text) {
  return String(text).replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

// One row per listing line: the source line it came from (as the editor
// counts lines), the line itself, and the reason the compiler gives for it,
// in the words it gives it (why.text).
function render(answer) {
  if (!answer.ok) {
    return "<p>The source does not compile: see its findings in the Problems view.</p>";
  }
  const rows = answer.lines
    .map((line) => {
      const where = line.editorLine === null ? "" : String(line.editorLine + 1);
      const why = line.why?.text ?? "";
      return `<tr><td class="n">${where}</td><td><code>${escape(line.text)}</code></td><td>${escape(why)}</td></tr>`;
    })
    .join("");
  return `<table><thead><tr><th>line</th><th>assembly</th><th>why</th></tr></thead><tbody>${rows}</tbody></table>`;
}

function page(body) {
  return `<!DOCTYPE html><html><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline';">
<style>
body { font-family: var(--vscode-editor-font-family); font-size: var(--vscode-editor-font-size); }
table { border-collapse: collapse; } td, th { padding: 0 0.8em 0 0; text-align: left; vertical-align: top; }
td.n { color: var(--vscode-editorLineNumber-foreground); text-align: right; }
code { white-space: pre; }
</style></head><body>${body}</body></html>`;
}

async function refresh(document) {
  if (!panel || !client || document.uri.toString() !== shown) return;
  try {
    const answer = await client.sendRequest("workspace/executeCommand", {
      command: "quern.showAssembly",
      arguments: [shown],
    });
    panel.webview.html = page(render(answer));
  } catch (error) {
    panel.webview.html = page(`<p>${escape(error.message || error)}</p>`);
  }
}

async function showAssembly() {
  const editor = vscode.window.activeTextEditor;
  if (!editor) return;
  shown = editor.document.uri.toString();
  if (!panel) {
    panel = vscode.window.createWebviewPanel("quernAssembly", "Assembly", vscode.ViewColumn.Beside, {
      enableScripts: false,
    });
    panel.onDidDispose(() => {
      panel = undefined;
    });
  }
  panel.title = `Assembly: ${editor.document.fileName.split(/[\\/]/).pop()}`;
  panel.reveal(vscode.ViewColumn.Beside, true);
  await refresh(editor.document);
}

async function activate(context) {
  const config = vscode.workspace.getConfiguration("quern");
  const selector = [{ scheme: "file", language: "quern" }];
  const course = config.get("courseFiles");
  if (course) selector.push({ scheme: "file", language: "c", pattern: course });
  client = new LanguageClient(
    "quern",
    "quern",
    { command: config.get("path") || "quern", args: ["--lsp"] },
    { documentSelector: selector },
  );
  await client.start();
  context.subscriptions.push(
    vscode.commands.registerCommand("quern.assembly", showAssembly),
    // The server answers a change with its diagnostics; the panel follows.
    vscode.workspace.onDidChangeTextDocument((event) => refresh(event.document)),
  );
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
