#!/usr/bin/env node
// Stand-in for `quern --exercise FILE` until it lands.
import { readFileSync } from "node:fs";
const text = readFileSync(process.argv[3], "utf8");
let title = null, start = null, cases = "", hidden = 0, fence = null, body = [];
const task = [];
for (const line of text.split("\n")) {
  if (fence === null && /^```/.test(line)) { fence = line.slice(3).trim(); body = []; continue; }
  if (fence !== null && /^```\s*$/.test(line)) {
    const t = body.join("\n") + "\n";
    if (fence === "quern") start = t;
    else if (fence === "cases") cases += t;
    else if (fence === "cases hidden") hidden += body.filter((l) => l.replace(/#.*/, "").trim()).length;
    fence = null; continue;
  }
  if (fence !== null) { body.push(line); continue; }
  if (title === null && line.startsWith("# ")) { title = line.slice(2).trim(); continue; }
  task.push(line);
}
console.log(JSON.stringify({ title, task: task.join("\n").trim() + "\n", start, cases, hidden }));
