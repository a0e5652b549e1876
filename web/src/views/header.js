// The page's header: Compile (also Ctrl/Cmd+Enter anywhere in the page) and
// Share, which puts the source's link in the address bar and the field beside
// the button, and copies it where the browser lets the page.
import { shareLink } from "../links/share.js";
import { within } from "./dom.js";

export function header(root, state, { compile }) {
  const $ = within(root);
  $("compile").addEventListener("click", () => compile());
  document.addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.ctrlKey || e.metaKey) && !e.defaultPrevented) {
      e.preventDefault();
      compile();
    }
  });
  if (/Mac|iPhone|iPad/.test(navigator.platform)) $("shortcut").textContent = "⌘+Enter";

  const share = $("share");
  const field = $("share-link");
  share.addEventListener("click", async () => {
    const link = shareLink(location, state.get().source);
    field.value = link;
    field.hidden = false;
    field.select();
    window.history.replaceState(null, "", link);
    try {
      await navigator.clipboard.writeText(link);
      share.textContent = "Copied";
    } catch {
      share.textContent = "Copy the link";
    }
    setTimeout(() => (share.textContent = "Share"), 2000);
  });
}
