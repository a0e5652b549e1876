// The course site of scripts/site.sh --course, served by a plain file server,
// in headless Chromium: no file of it holds a hidden case; its page lists the
// course's exercises and shows one as passed once the learner has passed it;
// after one visit it opens and compiles with the network gone, and a new
// build replaces the one kept on the next visit. Hostile markdown is refused
// by the build, which is all or nothing.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import os from "node:os";
import path from "node:path";
import { test } from "node:test";
import { chromium } from "playwright-core";
import { writeServiceWorker } from "../../web/course/offline.mjs";
import { renderMarkdown } from "../../web/markdown.mjs";
import { HOSTILE_TASKS } from "./cases.mjs";
import { BUILD_DIR, ROOT } from "./server.mjs";
import { serveStatic } from "./static.mjs";

const SITE = path.resolve(process.env.QUERN_COURSE_SITE || path.join(BUILD_DIR, "course-site"));
const COURSE = path.resolve(process.env.QUERN_COURSE || path.join(ROOT, "docs/course"));
// The playground's site, built already: a course build takes its page and module.
const PLAYGROUND = path.resolve(process.env.QUERN_SITE || path.join(BUILD_DIR, "site"));
const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";

const exerciseFiles = readdirSync(COURSE)
  .filter((n) => n.endsWith(".md") && n !== "index.md")
  .sort()
  .map((n) => readFileSync(path.join(COURSE, n), "utf8"));
const titles = exerciseFiles.map((text) => /^# (.*)$/m.exec(text)[1].trim());
const files = (dir) => readdirSync(dir, { recursive: true, withFileTypes: true }).filter((e) => e.isFile());
const caseLines = (text) => text.split("\n").map((l) => l.replace(/#.*/, "").trim()).filter((l) => l !== "");
const blocks = (text, fence) =>
  [...text.matchAll(new RegExp(`^\`\`\`${fence}[ \t]*\n([^]*?)^\`\`\``, "gm"))].flatMap(([, body]) => caseLines(body));

test("no file of the course site holds a hidden case, nor does any exercise link in it", () => {
  const hidden = exerciseFiles.map((text) => blocks(text, "cases hidden"));
  const visible = exerciseFiles.flatMap((text) => blocks(text, "cases"));
  const texts = files(SITE).map((e) => readFileSync(path.join(e.parentPath ?? e.path, e.name), "utf8"));
  const links = texts.flatMap((t) => [...t.matchAll(/#exercise=([\w-]+)/g)].map(([, code]) => code));
  const payloads = [...new Set(links)].map((code) => JSON.parse(Buffer.from(code, "base64url").toString("utf8")));
  assert.deepEqual(payloads.map((p) => p.title), titles);
  payloads.forEach((p, i) => {
    const lines = caseLines(p.cases);
    assert.ok(lines.length > 0 && hidden[i].every((h) => !lines.includes(h)), `the link to "${p.title}"`);
  });
  // A hidden case that no visible case contains is found nowhere in the site.
  const telling = hidden.flat().filter((h) => !visible.some((v) => v.includes(h)));
  assert.ok(telling.length > 0, "the course has hidden cases");
  for (const line of telling) {
    for (const text of [...texts, ...payloads.map((p) => p.cases)]) {
      assert.ok(!text.includes(line) && !text.includes(line.replace(">", "&gt;")), `"${line}" is in the site`);
    }
  }
});

test("a learner passes an exercise and sees it on the list; after one visit the site works offline and updates", async () => {
  // A copy, so that a new build can be put in its place.
  const site = mkdtempSync(path.join(os.tmpdir(), "quern-course-"));
  cpSync(SITE, site, { recursive: true });
  const server = await serveStatic(site);
  // A profile of its own: a site can be installed only outside incognito.
  const profile = mkdtempSync(path.join(os.tmpdir(), "quern-course-profile-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"],
    viewport: { width: 1280, height: 720 },
  });
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    const problems = [];
    page.on("pageerror", (err) => problems.push(err.message));
    page.on("console", (msg) => msg.type() === "error" && problems.push(msg.text()));
    await page.goto(`${server.base}/`);
    const list = page.getByRole("list", { name: "Exercises" });
    const states = () => list.locator(".state").allTextContents();
    assert.deepEqual(await list.getByRole("link").allTextContents(), titles);
    assert.deepEqual(await states(), titles.map(() => "not started"));

    // The first exercise, passed as a learner types it.
    await list.getByRole("link", { name: titles[0] }).click();
    await page.getByRole("heading", { name: titles[0] }).waitFor();
    await page.getByText(/^\d+ of \d+ cases pass\.$/).waitFor();
    await page.locator("#editor .cm-line", { hasText: "return 0;" }).click();
    await page.keyboard.press("End");
    await page.keyboard.press("ArrowLeft");
    await page.keyboard.press("Backspace");
    await page.keyboard.type("a + b");
    await page.getByText(/^All \d+ cases pass\.$/).waitFor();
    await page.goBack();
    await list.getByText("all visible cases pass").waitFor();
    assert.deepEqual(await states(), titles.map((_, i) => (i === 0 ? "all visible cases pass" : "not started")));

    // Offline once the service worker controls the page: the server sees no
    // request, and the course opens an exercise that compiles.
    await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
    const cdp = await context.newCDPSession(page);
    assert.deepEqual((await cdp.send("Page.getInstallabilityErrors")).installabilityErrors, []);
    await context.setOffline(true);
    const seen = server.requests.length;
    await page.reload();
    await list.getByRole("link", { name: titles[1] }).click();
    await page.getByText(/^\d+ of \d+ cases pass\.$/).waitFor();
    assert.match(await page.locator("#status").textContent(), /^compiled in the page/);
    assert.deepEqual(server.requests.slice(seen), []);
    await context.setOffline(false);

    // A new build of the site: the next visit shows it.
    const index = path.join(site, "index.html");
    writeFileSync(index, readFileSync(index, "utf8").replace('<h2 id="exercises">Exercises', '<h2 id="exercises">New exercises'));
    await writeServiceWorker(site);
    await page.goto(`${server.base}/`);
    await page.getByRole("heading", { name: "New exercises" }).waitFor();
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
    await server.stop();
    for (const dir of [site, profile]) rmSync(dir, { recursive: true, force: true });
  }
});

test("the build refuses each hostile construct at its file and line", () => {
  for (const [hostile, named] of HOSTILE_TASKS) {
    // The task's lines are lines 5 to 7 of its file.
    const refusal = (e) => e.message.startsWith(`t.md:7: ${named} is not allowed`);
    assert.throws(() => renderMarkdown(`Write \`f\`:\n\n${hostile}\n`, "t.md", { lines: [5, 6, 7] }), refusal, hostile);
  }
});

test("a course build is all or nothing: a refused task leaves the site byte for byte, in one line; mended, it builds", { timeout: 300_000 }, () => {
  const work = mkdtempSync(path.join(os.tmpdir(), "quern-course-build-"));
  const [course, site] = [path.join(work, "course"), path.join(work, "site")];
  cpSync(COURSE, course, { recursive: true });
  cpSync(SITE, site, { recursive: true });
  const contents = () =>
    Object.fromEntries(files(site).map((e) => path.join(e.parentPath ?? e.path, e.name)).map((f) => [path.relative(site, f), readFileSync(f)]));
  const build = () => spawnSync("bash", [path.join(ROOT, "scripts/site.sh"), site, "--course", course, "--from", PLAYGROUND], { encoding: "utf8" });
  try {
    const before = contents();
    const extra = path.join(course, "04-more.md");
    const exercise = (link) => `# More\n\nRead [the notes](${link}) first.\n\n\`\`\`cases\n1 -> 1\n\`\`\`\n`;
    writeFileSync(extra, exercise("&#106;avascript:alert(1)"));
    const broken = build();
    assert.equal(broken.status, 2, broken.stderr);
    // One line, the last: no stack trace after it.
    assert.match(broken.stderr, new RegExp(`\\n${extra}:3: href="javascript:alert\\(1\\)" on <a> is not allowed: .*\\n$`));
    assert.deepEqual(contents(), before);
    writeFileSync(extra, exercise("https://example.com/notes"));
    const mended = build();
    assert.equal(mended.status, 0, mended.stderr);
    assert.match(readFileSync(path.join(site, "index.html"), "utf8"), />More<\/a>/);
    assert.deepEqual(readdirSync(work).sort(), ["course", "site"]);
  } finally {
    rmSync(work, { recursive: true, force: true });
  }
});
