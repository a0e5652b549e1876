// Bundles the playground (src/main.js with CodeMirror) into
// public/dist/playground.js, the one script the page loads (a module; what it
// imports later, the rest of the page once the first listing shows, goes
// into chunks of its own beside it), the compiler's worker into
// public/dist/compile-worker.js and the graph's layout, a worker started when
// that view first opens, into public/dist/graph-layout.js; renders the
// language reference (docs/language.md) into public/reference.html.
import { build } from "esbuild";
import { renderOrExit, sitePage } from "./markdown.mjs";
import { withInstructionTable } from "./src/isa.js";
import { readFile, readdir, rename, rm, writeFile } from "node:fs/promises";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const dist = path.join(here, "public/dist");
const common = {
  bundle: true,
  // QUERN_MINIFY=0 keeps the names, for profiles (bench/page_trace.mjs).
  minify: process.env.QUERN_MINIFY !== "0",
  // Class fields and private methods as written: every browser that runs the
  // page (its policy's 'wasm-unsafe-eval') has them, and lowered they would
  // need helpers in a chunk of their own.
  target: "es2022",
  legalComments: "linked",
  // quern.mjs reads quern.wasm from a file under Node only, and finds it
  // beside itself only when it is not told where it is, which the page does.
  external: ["node:*"],
  define: { "import.meta.url": "undefined" },
  // A style sheet that a script imports comes as its text (views/editor.css).
  loader: { ".css": "text" },
  logLevel: "warning",
};
// Chunks are named by their hash: a fresh folder keeps no stale ones.
await rm(dist, { recursive: true, force: true });
const { metafile } = await build({
  ...common,
  entryPoints: { playground: path.join(here, "src/main.js") },
  outdir: dist,
  chunkNames: "[name]-[hash]",
  format: "esm",
  splitting: true,
  metafile: true,
});
// The code that playground.js shares with what it loads later is in a chunk
// that it imports at once: that chunk is renamed dist/shared.js, which
// index.html preloads beside playground.js rather than after it.
const entry = Object.entries(metafile.outputs).find(([, out]) => out.entryPoint)[1];
const imported = entry.imports.filter((i) => i.kind === "import-statement").map((i) => path.basename(i.path));
if (imported.length !== 1) throw new Error(`playground.js imports ${imported.length} chunks at once; index.html preloads one`);
await rename(path.join(dist, imported[0]), path.join(dist, "shared.js"));
for (const file of (await readdir(dist)).filter((f) => f.endsWith(".js"))) {
  const text = await readFile(path.join(dist, file), "utf8");
  if (text.includes(imported[0])) await writeFile(path.join(dist, file), text.replaceAll(`./${imported[0]}`, "./shared.js"));
}
// The compiler's worker, which the page starts from dist/compile-worker.js,
// and the graph's layout, in dist/graph-layout.js.
for (const [entry, out] of [
  ["src/compiler/worker.js", "compile-worker.js"],
  ["src/views/stages/graph-layout.js", "graph-layout.js"],
]) {
  await build({ ...common, entryPoints: [path.join(here, entry)], outfile: path.join(dist, out), format: "iife" });
}

// The reference's section on why each line is there: at its mark, every
// rule of the table of reasons with its example compiled now, by the
// module the site carries (QUERN_WASM, which scripts/site.sh gives), and the
// first line of that rule with its sentence; an example without such a line
// stops the build.
async function whyRules(text) {
  const mark = "<!-- why-rules -->";
  if (!text.includes(mark)) return text;
  if (!process.env.QUERN_WASM) throw new Error("the reference compiles its examples with quern.wasm: set QUERN_WASM");
  const { loadCompiler } = await import("../wasm/quern.mjs");
  const table = JSON.parse(await readFile(path.join(here, "../src/why.json"), "utf8"));
  const rows = (list) => new Map(list.map((row) => [row.name, row]));
  const compiler = await loadCompiler(process.env.QUERN_WASM);
  const section = (title, rows, field, listing) =>
    [...rows.values()].map((row) => {
      const answer = compiler.explain(row.example);
      const line = answer.ok && answer[listing].find((l) => l.why[field] === row.name);
      if (!line) throw new Error(`src/why.json: the example of ${row.name} has no such line`);
      return [
        `### ${title(row)}`,
        "",
        "```",
        row.example,
        "```",
        "",
        `\`${line.text.trim()}\` — ${line.why.text}`,
        "",
      ].join("\n");
    });
  return text.replace(
    mark,
    [
      ...section((row) => `${row.title} (\`${row.name}\`)`, rows(table.rules), "rule", "lines"),
      ...section((row) => `How the operands reach the registers: \`${row.name}\``, rows(table.pairs), "pair", "lines"),
      ...section((row) => `What the optimiser did: \`${row.name}\``, rows(table.optimiser), "optimiser", "unoptimised"),
    ].join("\n"),
  );
}

// The reference is a static page under the page's Content-Security-Policy
// (default-src 'self'): its only style is public/reference.css, its only
// script public/reference.js (the way back to where the learner came from),
// its markdown keeps to the page's allow-list and links within the site.
// Its instruction table is made from the instruction table (src/isa.json),
// its rules of why each line is there from the table of reasons. The
// comments that mark its made parts are for its authors: a line that holds
// only a comment becomes a blank line, so that the file's lines keep their
// numbers in any refusal.
const markdown = await whyRules(withInstructionTable(await readFile(path.join(here, "../docs/language.md"), "utf8")));
const body = renderOrExit(markdown.replace(/^<!--.*-->$/gm, ""), "docs/language.md", { ownLinksOnly: true });
const title = /^# (.*)$/m.exec(markdown)?.[1] ?? "Language reference";
await writeFile(
  path.join(here, "public/reference.html"),
  sitePage({ title, icon: "data:,", head: `    <script src="reference.js" defer></script>\n`, nav: `<a href="./">← playground</a>`, main: body }),
);
