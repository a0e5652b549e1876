// Writes the course site's service worker, sw.js: the worker's code
// (src/course/service-worker.js) after the list of every file now in the
// site and a hash of their names and contents, which names the build. Run it
// last, once every other file of the site is written.
import { createHash } from "node:crypto";
import { readdir, readFile, writeFile } from "node:fs/promises";
import path from "node:path";

const WORKER = new URL("../src/course/service-worker.js", import.meta.url);

// The files under `dir`, by their paths from it ("/" between folders),
// without hidden ones.
async function walk(dir, under = "") {
  const found = [];
  for (const entry of await readdir(path.join(dir, under), { withFileTypes: true })) {
    if (entry.name.startsWith(".")) continue;
    const name = under ? `${under}/${entry.name}` : entry.name;
    if (entry.isDirectory()) found.push(...(await walk(dir, name)));
    else if (entry.isFile()) found.push(name);
  }
  return found;
}

// Returns the build's version.
export async function writeServiceWorker(site) {
  const files = (await walk(site)).filter((f) => f !== "sw.js").sort();
  const hash = createHash("sha256");
  for (const file of files) hash.update(`${file}\0`).update(await readFile(path.join(site, file)));
  const version = hash.digest("hex").slice(0, 16);
  // As the worker compares them with request URLs: each part percent-encoded.
  const urls = files.map((f) => f.split("/").map(encodeURIComponent).join("/"));
  const code = await readFile(WORKER, "utf8");
  await writeFile(path.join(site, "sw.js"), `const SITE = ${JSON.stringify({ version, files: urls })};\n\n${code}`);
  return version;
}
