// The page's module in Node: the time of quern.mjs's explainInStretches, the
// call that the page's worker makes for each body, on the typical body and
// on every extreme shape at the largest body the service takes, for this
// build's quern.wasm and, given one, a baseline's, in turns within each
// repetition (which goes first alternates), once both have given the same
// answer for the body. Each module is loaded with its
// own quern.mjs, in a fresh instance for each body. Prints a table of the
// medians and of the module's memory after each body, and the target for the
// chain of negations.
//
// Usage: node --expose-gc bench/module_bench.mjs PROC_BENCH SITE_DIR [BASELINE_SITE_DIR]
//   (with --expose-gc, the garbage of one run is collected before the next
//   is timed, so that neither module pays for the other's answer)
//   PROC_BENCH  bench/proc_bench of a build, which writes the bodies
//   SITE_DIR    a folder with quern.wasm and quern.mjs (scripts/site.sh's site)
// Environment: MODULE_RUNS (runs per shape, default 10), MODULE_TYPICAL_RUNS
// (default 200), BASELINE_NAME (what the baseline column is called).
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [procBench, site, baselineFolder] = process.argv.slice(2);
if (!procBench || !site) {
  console.error("usage: node bench/module_bench.mjs PROC_BENCH SITE_DIR [BASELINE_SITE_DIR]");
  process.exit(2);
}
const runs = Number(process.env.MODULE_RUNS || 10);
const typicalRuns = Number(process.env.MODULE_TYPICAL_RUNS || 200);
const baselineName = process.env.BASELINE_NAME || "baseline";
// The target: the chain of negations compiles in at most this share of the baseline's time.
const TARGET_SHAPE = "spilling_chain";
const TARGET_SHARE = 0.5;

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};
const ms = (x) => (x < 10 ? x.toFixed(2) : x.toFixed(1));

// A build's loadCompiler and its compiled module; each body gets an instance
// of its own, so that the memory after it is what that body needed.
async function load(folder) {
  const { loadCompiler } = await import(pathToFileURL(path.resolve(folder, "quern.mjs")).href);
  const module = await WebAssembly.compile(readFileSync(path.resolve(folder, "quern.wasm")));
  return () => loadCompiler(module);
}

const builds = [await load(site)];
let baselineSite = baselineFolder;
if (baselineSite) {
  const baseline = await load(baselineSite);
  // A module from before the answer in stretches cannot be compared.
  if (typeof (await baseline()).explainInStretches === "function") builds.push(baseline);
  else {
    console.log(`${baselineName}'s module has no explainInStretches: this build's is measured alone\n`);
    baselineSite = undefined;
  }
}
// An answer in stretches as one text: the head, then each member's elements
// in order, whatever the stretches' bounds.
function whole({ head, stretches }) {
  const members = new Map();
  for (const { member, text } of stretches) {
    if (!members.has(member)) members.set(member, []);
    if (text.length > 2) members.get(member).push(text.slice(1, -1));
  }
  return [head, ...[...members].map(([member, parts]) => `${member}: ${parts.join(",")}`)].join("\n");
}

const names = execFileSync(procBench, ["--list-bodies"], { encoding: "utf8" }).trim().split("\n");

const results = [];
for (const name of names) {
  const source = execFileSync(procBench, ["--print-body", name]).toString("utf8");
  const compilers = await Promise.all(builds.map((fresh) => fresh()));
  const times = compilers.map(() => []);
  const count = name === "typical" ? typicalRuns : runs;
  // One unrecorded run each, so that the modules' memory has grown already;
  // the two must give the same answer (however it is cut into stretches).
  const answers = compilers.map((compiler) => whole(compiler.explainInStretches(source)));
  if (answers.length > 1 && answers[0] !== answers[1]) {
    console.error(`module_bench: the two modules' answers differ for ${name}`);
    process.exit(1);
  }
  for (let i = 0; i < count; i++) {
    const order = i % 2 ? [...compilers.keys()].reverse() : [...compilers.keys()];
    for (const which of order) {
      // The previous answer's garbage is collected first, when node allows it.
      globalThis.gc?.();
      const started = performance.now();
      compilers[which].explainInStretches(source);
      times[which].push(performance.now() - started);
    }
  }
  results.push({
    name,
    bytes: Buffer.byteLength(source),
    medians: times.map(median),
    memory: compilers.map((c) => (c.memoryBytes ? c.memoryBytes() / 2 ** 20 : NaN)),
  });
}

console.log(
  `The page's module: explainInStretches in Node ${process.version}, median of ${runs} runs per shape ` +
    `(${typicalRuns} typical)${baselineSite ? `, this build and ${baselineName} in turns` : ""}; ` +
    "MiB: the module's memory after the body\n",
);
const header = ["body", "bytes", "ms", ...(baselineSite ? ["base ms", "ms/base"] : []), "MiB"];
if (baselineSite) header.push("base MiB");
// The first column left-aligned, the figures right-aligned.
const line = (cells) => cells.map((c, i) => (i ? String(c).padStart(10) : String(c).padEnd(24))).join(" ");
console.log(line(header));
for (const r of results) {
  const row = [r.name, r.bytes, ms(r.medians[0])];
  if (baselineSite) row.push(ms(r.medians[1]), `${(r.medians[0] / r.medians[1]).toFixed(2)}x`);
  row.push(r.memory[0].toFixed(1));
  if (baselineSite) row.push(r.memory[1].toFixed(1));
  console.log(line(row));
}
const target = results.find((r) => r.name === TARGET_SHAPE);
if (baselineSite && target) {
  const share = target.medians[0] / target.medians[1];
  console.log(
    `\nTARGET page module's compile of ${TARGET_SHAPE} at most half the baseline's: ` +
      `${share <= TARGET_SHARE ? "met" : "MISSED"} (${share.toFixed(2)}x, ${ms(target.medians[0])} ms ` +
      `against ${ms(target.medians[1])} ms, ${baselineName})`,
  );
}
