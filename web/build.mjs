// Bundles the playground (src/main.js with CodeMirror) into
// public/dist/playground.js, the script the page loads, with what it loads
// later (src/rest.js) in chunks beside it, and the compiler's worker into
// public/dist/compile-worker.js; renders the language reference
// (docs/language.md) into public/reference.html.
import { build } from "esbuild";
import { marked } from "marked";
import { readFile, rm, writeFile } from "node:fs/promises";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const common = {
  bundle: true,
  minify: true,
  target: "es2020",
  legalComments: "linked",
  // quern.mjs reads quern.wasm from a file under Node only, and finds it
  // beside itself only when it is not told where it is, which the page does.
  external: ["node:*"],
  define: { "import.meta.url": "undefined" },
  logLevel: "warning",
};
const dist = path.join(here, "public/dist");
await rm(dist, { recursive: true, force: true }); // chunks of earlier builds
await build({
  ...common,
  entryPoints: { playground: path.join(here, "src/main.js") },
  outdir: dist,
  format: "esm",
  splitting: true,
  // The code that playground.js shares with what it loads later goes into
  // one chunk, dist/chunk.js, which index.html preloads beside it (a second
  // shared chunk would take the same name, and the build would fail).
  chunkNames: "[name]",
});
// The compiler's worker, which the page starts from dist/compile-worker.js.
await build({
  ...common,
  entryPoints: [path.join(here, "src/compiler/worker.js")],
  outfile: path.join(dist, "compile-worker.js"),
  format: "iife",
});

// The reference is a static page under the page's Content-Security-Policy
// (default-src 'self'): its only style is public/reference.css, and the
// markdown must not bring inline styles, scripts or other hosts with it.
const markdown = await readFile(path.join(here, "../docs/language.md"), "utf8");
const body = marked.parse(markdown);
const unsafe = /<script|<style|\sstyle=|\son[a-z]+=|(?:src|href)="(?:https?:)?\/\//i.exec(body);
if (unsafe) throw new Error(`docs/language.md: "${unsafe[0]}" is not allowed under the page's policy`);
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
  </head>
  <body>
    <nav><a href="./">← playground</a></nav>
    <main>
${body}    </main>
  </body>
</html>
`,
);
