// The pages that the build writes (the language reference, a course's
// page): their shell, and markdown turned into HTML with marked. The pages forbid
// scripts and outside resources by their content security policy, so HTML
// that would need either is refused at build time rather than left to fail
// in the browser; code blocks take focus, so they scroll by the keyboard.
import { marked } from "marked";

const UNSAFE =
  /<(?:script|style|iframe|object|embed|link|meta|base|form)\b|\sstyle=|\son[a-z]+=|\ssrc="?(?:[a-z]+:)?\/\/|href="?\s*javascript:/i;
const OUTSIDE_LINK = /href="(?:https?:)?\/\//i;

// The HTML of `markdown`; `where` names it in the refusal. With
// `ownLinksOnly`, links to other hosts are refused too.
export function renderMarkdown(markdown, where, { ownLinksOnly = false } = {}) {
  const html = marked.parse(markdown).replaceAll("<pre>", '<pre tabindex="0">');
  const unsafe = UNSAFE.exec(html) ?? (ownLinksOnly ? OUTSIDE_LINK.exec(html) : null);
  if (unsafe) throw new Error(`${where}: "${unsafe[0]}" is not allowed under the page's policy`);
  return html;
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
