// Share links: the page's address with "#source=" and the source's UTF-8
// bytes in base64url without padding. Links already sent around depend on
// this format: keep it.
import { decodeText, encodeText } from "./base64url.js";

const PREFIX = "#source=";

// Whether a hash is meant to carry a source (it may still be damaged).
export const carriesSource = (hash) => hash.startsWith(PREFIX);

// The source a hash carries, or null when it carries none or is damaged.
export function sourceFromHash(hash) {
  return hash.startsWith(PREFIX) ? (decodeText(hash.slice(PREFIX.length)).text ?? null) : null;
}

export function shareLink(location, text) {
  return location.origin + location.pathname + location.search + PREFIX + encodeText(text);
}
