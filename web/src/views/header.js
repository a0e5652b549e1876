// The page's header: Compile (also Ctrl/Cmd+Enter anywhere in the page),
// Share, which puts the source's link in the address bar and the field beside
// the button, and copies it where the browser lets the page, and the link to
// the language reference, whose way back returns to this very address (an
// exercise, a share link).
import { shareLink } from "../links/share.js";
import { tabStorage } from "../links/storage.js";
import { within } from "./dom.js";

// Where the reference's link back leads; public/reference.js reads it.
const RETURN_KEY = "quern.reference.return";

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
  // A click of any button (a new tab included) opens the reference.
  const reference = root.querySelector("a.reference");
  for (const type of ["click", "auxclick"]) reference.addEventListener(type, () => tabStorage.set(RETURN_KEY, location.href));

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
