// Bundles the playground (src/main.js with CodeMirror) into
// public/dist/playground.js, the one script the page loads (a module; what it
// imports only when a view opens, such as the graph's layout, goes into
// chunks of its own beside it), and renders the
// language reference (docs/language.md) into public/reference.html.
import { build } from "esbuild";
import { renderMarkdown } from "./markdown.mjs";
import { readFile, rm, writeFile } from "node:fs/promises";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
// Chunks are named by their hash: a fresh folder keeps no stale ones.
await rm(path.join(here, "public/dist"), { recursive: true, force: true });
await build({
  entryPoints: { playground: path.join(here, "src/main.js") },
  outdir: path.join(here, "public/dist"),
  chunkNames: "[name]-[hash]",
  bundle: true,
  format: "esm",
  splitting: true,
  minify: true,
  target: "es2020",
  legalComments: "linked",
  // quern.mjs reads quern.wasm from a file under Node only, and finds it
  // beside itself only when it is not told where it is, which the page does.
  external: ["node:*"],
  define: { "import.meta.url": "undefined" },
  logLevel: "warning",
});

// The reference is a static page under the page's Content-Security-Policy
// (default-src 'self'): its only style is public/reference.css, its only
// script public/reference.js (the way back to where the learner came from),
// and the markdown must not bring inline styles, scripts or other hosts with
// it.
const markdown = await readFile(path.join(here, "../docs/language.md"), "utf8");
const body = renderMarkdown(markdown, "docs/language.md", { ownLinksOnly: true });
const title = /^# (.*)$/m.exec(markdown)?.[1] ?? "Language reference";
await writeFile(
  path.join(here, "public/reference.html"),
  `<!doctype html>
<html lang="en">
  <head>
    <meta charset="utf-8" />
    <meta name="viewport" content="width=device-width, initial-scale=1" />
    <meta name="color-scheme" content="light dark" />
    <title>${title}</title>
    <link rel="icon" href="data:," />
    <link rel="stylesheet" href="reference.css" />
    <script src="reference.js" defer></script>
  </head>
  <body>
    <nav><a href="./">← playground</a></nav>
    <main>
${body}    </main>
  </body>
</html>
`,
);
