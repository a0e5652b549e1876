// Builds a course into a site that scripts/site.sh has filled with the
// playground:
//
//   node web/course/build.mjs SITE COURSE QUERN
//
// COURSE is a folder of exercise files (*.md, in file-name order) and an
// optional index.md that introduces the course. QUERN is the command line
// compiler, whose `--exercise COURSE` lists the folder and reads each
// exercise file (the one reader of them) into its title, task, starting
// source and visible cases; hidden cases never leave it, only their count,
// so no file of the site holds one.
//
// The introduction and every exercise's task are Markdown, rendered with
// the page's allow-list (web/markdown.mjs): what it would leave out stops the
// build with one line, FILE:LINE: what is not allowed, and exit status 2, as
// a malformed exercise file does.
//
// The site then has the course page as index.html (the introduction and the
// exercises, each a link that opens it in the playground's exercise mode),
// the playground as playground.html, a web app manifest and icons, and last
// sw.js, the service worker that keeps the whole site for offline use.
import { build } from "esbuild";
import { renderOrExit, sitePage } from "../markdown.mjs";
import { spawnSync } from "node:child_process";
import { readFile, writeFile } from "node:fs/promises";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { exerciseLink } from "../src/links/exercise-link.js";
import { png, SVG } from "./icons.mjs";
import { writeServiceWorker } from "./offline.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const web = path.dirname(here);
const [site, course, quern] = process.argv.slice(2);
if (!quern) {
  console.error("usage: node web/course/build.mjs SITE COURSE QUERN");
  process.exit(2);
}

const escape = (text) =>
  text.replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
const plural = (n, one) => `${n} ${one}${n === 1 ? "" : "s"}`;

// { index: the text of index.md or null, exercises: [{ file, title, task,
// start, cases, hidden }] }. Exits as quern did, with its message
// (FILE:LINE: what is wrong), for a malformed file.
function readCourse() {
  const run = spawnSync(quern, ["--exercise", course], { encoding: "utf8" });
  if (run.error) throw run.error;
  if (run.status !== 0) {
    process.stderr.write(run.stderr);
    process.exit(run.status ?? 1);
  }
  return JSON.parse(run.stdout);
}

// The introduction: its markdown may link anywhere.
function introduction(markdown) {
  if (markdown === null) return { title: "Exercises", html: "<h1>Exercises</h1>\n" };
  const html = renderOrExit(markdown, path.join(course, "index.md"));
  const title = /^# (.*)$/m.exec(markdown)?.[1].trim();
  return title ? { title, html } : { title: "Exercises", html: `<h1>Exercises</h1>\n${html}` };
}

// Puts `text` before (or after) the one `anchor` in `html`.
function insert(html, anchor, text, after = false) {
  const at = html.indexOf(anchor);
  if (at < 0 || html.indexOf(anchor, at + 1) >= 0) throw new Error(`public/index.html: expected one "${anchor}"`);
  const cut = after ? at + anchor.length : at;
  return html.slice(0, cut) + text + html.slice(cut);
}

const { index, exercises } = readCourse();
if (exercises.length === 0) throw new Error(`${course}: no exercise files (*.md besides index.md)`);
const intro = introduction(index);
// A task shows in the playground, which leaves out what the allow-list does
// not keep; the author hears of it here.
for (const e of exercises) renderOrExit(e.task, path.join(course, e.file), { lines: e.task_lines });

// Links from here to the playground beside it.
const beside = { origin: "", pathname: "playground.html", search: "" };
const items = exercises.map((e) => {
  const link = exerciseLink(beside, { title: e.title, task: e.task, source: e.start ?? "", cases: e.cases });
  const visible = e.cases.split("\n").filter((l) => l.replace(/#.*/, "").trim() !== "").length;
  const hidden = e.hidden ? `, and ${e.hidden} more when graded` : "";
  return `      <li>
        <a href="${escape(link)}">${escape(e.title)}</a>
        <span class="state" data-state="not-started">not started</span>
        <span class="count">${plural(visible, "case")}${hidden}</span>
      </li>
`;
});

const head = `    <link rel="manifest" href="manifest.webmanifest" />
    <meta name="theme-color" content="#2f5bd3" />
    <link rel="stylesheet" href="course.css" />
`;
await writeFile(
  path.join(site, "index.html"),
  sitePage({
    title: escape(intro.title),
    icon: "icon.svg",
    head: `${head}    <script src="dist/course.js" defer></script>\n`,
    nav: `<a href="playground.html">Playground</a> · <a href="reference.html">Language reference</a>`,
    main: `${intro.html}      <h2 id="exercises">Exercises</h2>
      <ol class="exercises" aria-labelledby="exercises">
${items.join("")}      </ol>
      <p class="course-note">Your code and how far you got are kept in this browser. After one visit the course also opens without a network.</p>
`,
  }),
);

// The playground, with a way back to the course.
let playground = await readFile(path.join(web, "public/index.html"), "utf8");
playground = insert(playground, "  </head>", `${head}    <script src="dist/offline.js" defer></script>\n`);
playground = insert(playground, "</h1>", `\n      <a class="course-link" href="./">← ${escape(intro.title)}</a>`, true);
await writeFile(path.join(site, "playground.html"), playground);

await build({
  entryPoints: { course: path.join(web, "src/course/main.js"), offline: path.join(web, "src/course/offline.js") },
  outdir: path.join(site, "dist"),
  bundle: true,
  format: "iife",
  minify: true,
  target: "es2020",
  logLevel: "warning",
});
await writeFile(path.join(site, "course.css"), await readFile(path.join(here, "course.css")));
await writeFile(path.join(site, "icon.svg"), SVG);
for (const size of [192, 512]) await writeFile(path.join(site, `icon-${size}.png`), png(size));
await writeFile(
  path.join(site, "manifest.webmanifest"),
  `${JSON.stringify(
    {
      name: intro.title,
      short_name: intro.title.length <= 12 ? intro.title : "quern",
      id: "./",
      start_url: "./",
      scope: "./",
      display: "standalone",
      background_color: "#f4f5f7",
      theme_color: "#2f5bd3",
      icons: [
        { src: "icon-192.png", sizes: "192x192", type: "image/png" },
        { src: "icon-512.png", sizes: "512x512", type: "image/png" },
        { src: "icon.svg", sizes: "any", type: "image/svg+xml" },
      ],
    },
    null,
    2,
  )}\n`,
);

const version = await writeServiceWorker(site);
console.error(`course: ${plural(exercises.length, "exercise")} from ${course}, build ${version}`);
