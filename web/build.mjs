// Bundles the playground (src/main.js with CodeMirror) into
// public/dist/playground.js, the one script the page loads.
import { build } from "esbuild";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
await build({
  entryPoints: [path.join(here, "src/main.js")],
  outfile: path.join(here, "public/dist/playground.js"),
  bundle: true,
  format: "iife",
  minify: true,
  target: "es2020",
  legalComments: "linked",
  // quern.mjs reads quern.wasm from a file under Node only, and finds it
  // beside itself only when it is not told where it is, which the page does.
  external: ["node:*"],
  define: { "import.meta.url": "undefined" },
  logLevel: "warning",
});
