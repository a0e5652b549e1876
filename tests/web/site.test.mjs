// The static site of scripts/site.sh, served by a plain file server (no
// /explain there), in headless Chromium: a #source= link opens compiled in
// the page, and the page asks for nothing but the site's own files.
import assert from "node:assert/strict";
import { mkdtemp, rm } from "node:fs/promises";
import os from "node:os";
import path from "node:path";
import { test } from "node:test";
import { chromium } from "playwright-core";
import { SUM_ASM, SUM_SOURCE } from "./cases.mjs";
import { BUILD_DIR } from "./server.mjs";
import { serveStatic } from "./static.mjs";

const SITE = path.resolve(process.env.QUERN_SITE || path.join(BUILD_DIR, "site"));
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";

test("a #source= link opens compiled in the page, from static files only", async () => {
  const server = await serveStatic(SITE);
  const profile = await mkdtemp(path.join(os.tmpdir(), "quern-site-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--no-first-run"],
  });
  try {
    const problems = [];
    const page = context.pages()[0] ?? (await context.newPage());
    page.on("console", (msg) => msg.type() === "error" && problems.push(msg.text()));
    page.on("pageerror", (err) => problems.push(err.message));
    await page.goto(`${server.base}/#source=${Buffer.from(SUM_SOURCE).toString("base64url")}`);
    const want = SUM_ASM.replace(/\n$/, "").split("\n");
    await page.waitForFunction(
      (lines) => {
        const pane = document.querySelector("#assembly"); // the editor sits in its shadow root
        const shown = [...(pane.shadowRoot ?? pane).querySelectorAll(".cm-line")].map((l) => l.textContent);
        return shown.length === lines.length && shown.every((l, i) => l === lines[i]);
      },
      want,
      { timeout: 15_000 },
    );
    assert.match(await page.locator("#status").textContent(), /^compiled in the page · \d+(\.\d)? ms$/);
    // The machine panel comes with the rest of the page, after the listing.
    await page.locator("#step:enabled").waitFor();
    assert.deepEqual(problems, []);
    // The site's own files only: the page's script, its chunks with the rest
    // of the page, and the compiler (the graph's layout waits for its view).
    const asked = [...new Set(server.requests)].sort();
    const fixed = ["/", "/playground.css", "/quern.wasm"].concat(["playground", "shared", "compile-worker"].map((f) => `/dist/${f}.js`)).map((f) => `GET ${f}`);
    assert.deepEqual(asked.filter((r) => fixed.includes(r)), fixed.sort());
    const chunks = asked.filter((r) => !fixed.includes(r));
    assert.ok(chunks.some((r) => /^GET \/dist\/rest-\w+\.js$/.test(r)), chunks.join(", "));
    assert.equal(chunks.length, 1, chunks.join(", "));
  } finally {
    await context.close();
    await rm(profile, { recursive: true, force: true });
    await server.stop();
  }
});
