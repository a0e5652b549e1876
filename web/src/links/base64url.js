// Text in links: its UTF-8 bytes in base64url without padding, which share
// and exercise links carry.

export function encodeText(text) {
  const bytes = new TextEncoder().encode(text);
  let binary = "";
  for (let i = 0; i < bytes.length; i += 0x8000) binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// The text that `code` holds: { text }, or { error } saying why there is none.
export function decodeText(code) {
  if (!/^[A-Za-z0-9_-]*$/.test(code) || code.length % 4 === 1) return { error: "it is not base64url" };
  try {
    const binary = atob(code.replace(/-/g, "+").replace(/_/g, "/"));
    return { text: new TextDecoder("utf-8", { fatal: true }).decode(Uint8Array.from(binary, (c) => c.charCodeAt(0))) };
  } catch {
    return { error: "its bytes are not UTF-8 text" };
  }
}
