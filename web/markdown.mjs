// The pages that the build writes (the language reference, a course's
// page): their shell, and markdown turned into HTML by the page's own
// renderer (src/markdown.js) in a DOM made by jsdom. A course file or the
// reference holds what its author wrote on purpose, so what the renderer's
// allow-list would leave out stops the build, at the line that holds it,
// rather than vanish from the page.
import { JSDOM } from "jsdom";
import { markdownRenderer } from "./src/markdown.js";

const render = markdownRenderer(new JSDOM("").window);

// A refusal of a file's content: its message is the one line
// "FILE:LINE: what is wrong" that the build prints.
export class Refused extends Error {}

const OUTSIDE_LINK = /href="((?:[a-z][a-z\d+.-]*:)?\/\/[^"]*)"/i;

// The HTML of `markdown` and what is wrong with it, or null.
function rendered(markdown, ownLinksOnly) {
  const { result: html, removed } = render(markdown);
  if (removed.length) {
    const { element, attribute, from } = removed[0];
    const name = (node) => `<${node.nodeName.toLowerCase()}>`;
    const what = element ? name(element) : `${attribute.name}=${JSON.stringify(attribute.value)} on ${name(from)}`;
    return { html, wrong: `${what} is not allowed: a page keeps only text, its formatting, code, and links to web pages` };
  }
  const outside = ownLinksOnly ? OUTSIDE_LINK.exec(html) : null;
  return { html, wrong: outside && `a link to another host (${outside[1]}) is not allowed: the page links only within its site` };
}

// The HTML of `markdown`, from the file `file`, whose line lines[i] is the
// markdown's line i + 1 (by default the markdown is the whole file). With
// `ownLinksOnly`, links to other hosts are refused too. Throws Refused at the
// first line whose markdown, up to there, holds something refused.
export function renderMarkdown(markdown, file, { lines = null, ownLinksOnly = false } = {}) {
  const { html, wrong } = rendered(markdown, ownLinksOnly);
  if (!wrong) return html;
  const text = markdown.split("\n");
  for (let k = 1; k <= text.length; k++) {
    const { wrong } = rendered(text.slice(0, k).join("\n"), ownLinksOnly);
    if (wrong) throw new Refused(`${file}:${lines ? lines[k - 1] : k}: ${wrong}`);
  }
  throw new Error(`${file}: refused as a whole but at no line`);
}

// renderMarkdown for a build: a refusal ends it with its one line and exit
// status 2.
export function renderOrExit(...args) {
  try {
    return renderMarkdown(...args);
  } catch (e) {
    if (!(e instanceof Refused)) throw e;
    console.error(e.message);
    process.exit(2);
  }
}

// A whole page: the head that each of them has (the policy that forbids
// scripts and styles from elsewhere and inline, the reference's stylesheet),
// then `head`; a <nav> of `nav`, and `main`. `title` is HTML.
export function sitePage({ title, icon, head = "", nav, main }) {
  return `<!doctype html>
<html lang="en">
  <head>
    <meta charset="utf-8" />
    <meta name="viewport" content="width=device-width, initial-scale=1" />
    <meta name="color-scheme" content="light dark" />
    <meta http-equiv="Content-Security-Policy" content="default-src 'self'; img-src 'self' data:" />
    <title>${title}</title>
    <link rel="icon" href="${icon}" />
    <link rel="stylesheet" href="reference.css" />
${head}  </head>
  <body>
    <nav>${nav}</nav>
    <main>
${main}    </main>
  </body>
</html>
`;
}
