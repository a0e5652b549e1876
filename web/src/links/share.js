// Share links: the page's address with "#source=" and the source's UTF-8
// bytes in base64url without padding. Links already sent around depend on
// this format: keep it.
const PREFIX = "#source=";

export function encodeSource(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = "";
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// Whether a hash is meant to carry a source (it may still be damaged).
export const carriesSource = (hash) => hash.startsWith(PREFIX);

// The source a hash carries, or null when it carries none or is damaged.
export function sourceFromHash(hash) {
  if (!hash.startsWith(PREFIX)) return null;
  const code = hash.slice(PREFIX.length);
  if (!/^[A-Za-z0-9_-]*$/.test(code) || code.length % 4 === 1) return null;
  try {
    const binary = atob(code.replace(/-/g, "+").replace(/_/g, "/"));
    const bytes = Uint8Array.from(binary, (c) => c.charCodeAt(0));
    return new TextDecoder("utf-8", { fatal: true }).decode(bytes);
  } catch {
    return null;
  }
}

export function shareLink(location, text) {
  return location.origin + location.pathname + location.search + PREFIX + encodeSource(text);
}
