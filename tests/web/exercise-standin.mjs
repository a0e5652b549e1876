#!/usr/bin/env node
// Stand-in for `quern --exercise COURSE` until it lands.
import { existsSync, readdirSync, readFileSync } from "node:fs";
import path from "node:path";
function read(file) {
  const text = readFileSync(file, "utf8");
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
  return { file: path.basename(file), title, task: task.join("\n").trim() + "\n", start, cases, hidden };
}
const dir = process.argv[3];
const index = path.join(dir, "index.md");
const names = readdirSync(dir).filter((n) => n.endsWith(".md") && n !== "index.md").sort();
console.log(JSON.stringify({ index: existsSync(index) ? readFileSync(index, "utf8") : null, exercises: names.map((n) => read(path.join(dir, n))) }));
