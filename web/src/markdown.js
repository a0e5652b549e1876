// Markdown into HTML for every page that shows it: an exercise's task in the
// playground (from a link that anyone may write), and, when a site is built,
// a course's pages and the language reference (web/markdown.mjs). marked
// renders; DOMPurify then keeps only what ALLOWED lists, the one allow-list
// of them all: text, its formatting, lists, tables, code, and links to web
// pages, mail or places in the site. Scripts, styles, forms, frames, images,
// meta and base elements, event handlers and any other URL scheme are left
// out, however they are spelled (entities, blanks or control characters
// inside a scheme are undone before the URL is checked).
import createDOMPurify from "dompurify";
import { marked } from "marked";

const ALLOWED = {
  ALLOWED_TAGS: [
    ...["p", "br", "hr", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "details", "summary"],
    ...["em", "strong", "b", "i", "s", "del", "code", "kbd", "sub", "sup", "pre"],
    ...["ul", "ol", "li", "dl", "dt", "dd", "table", "thead", "tbody", "tr", "th", "td", "a"],
    "body", // the parsed text's container, never returned: without it, it would count as removed
  ],
  ALLOWED_ATTR: ["href", "title", "start", "align"],
  // http, https and mailto, or no scheme at all (a path or a fragment).
  ALLOWED_URI_REGEXP: /^(?:(?:https?|mailto):|[^a-z]|[a-z+.-]+(?:[^a-z+.:-]|$))/i,
  ALLOW_ARIA_ATTR: false,
  ALLOW_DATA_ATTR: false,
  // Elements that a parser would move into the head (meta, base, style at
  // the start) stay in the body, where they are checked like any other.
  FORCE_BODY: true,
};

// A renderer for documents of `window` (the page's own, or a DOM made in
// Node for a build): render(markdown, { fragment }) gives { result, removed },
// result the HTML text (or with `fragment` a DocumentFragment, which is not
// parsed again) and removed what the allow-list left out, as DOMPurify names
// it ({ element } or { attribute, from }), in document order. Code blocks
// take focus, so that they scroll by the keyboard.
export function markdownRenderer(window) {
  const purify = createDOMPurify(window);
  // The language of a code block names the class of its <code>: the page
  // does not colour by it, so it goes without counting as left out.
  purify.addHook("beforeSanitizeAttributes", (node) => {
    if (node.nodeName === "CODE" && /^language-\S+$/.test(node.getAttribute("class") ?? "")) node.removeAttribute("class");
  });
  purify.addHook("afterSanitizeAttributes", (node) => {
    if (node.nodeName === "PRE") node.setAttribute("tabindex", "0");
  });
  return (markdown, { fragment = false } = {}) => {
    const result = purify.sanitize(marked.parse(markdown), { ...ALLOWED, RETURN_DOM_FRAGMENT: fragment });
    // The first removed is the mark that FORCE_BODY puts before the text.
    return { result, removed: purify.removed.filter((r, i) => i > 0 || r.element?.nodeName !== "REMOVE") };
  };
}
