// The address and the draft of the playground. Every change of the source
// is kept in the browser's storage (the draft), and the address follows it as
// a share link, so that a reload keeps the edit; the draft also records the
// address it was saved under, and wins over that address's source should a
// reload come before the address caught up. A share link in the address
// (opened, or changed by hand) loads its source. An open exercise owns the
// address and a draft of its own, so none of this runs then.
import { loadSource } from "../state.js";
import { carriesSource, shareLink, sourceFromHash } from "./share.js";
import { storage } from "./storage.js";

const DRAFT_KEY = "quern.playground.source";
const ADDRESS_KEY = "quern.playground.address"; // the address's hash when the draft was saved
const ADDRESS_MS = 250; // the address follows edits at most this often
// The longest link the address follows. Chromium takes tens to hundreds of
// milliseconds to take an address of tens of kilobytes, which would hold up
// typing in a long source; such a source is kept by its draft, and the
// address is the page's own (a Share link still carries it).
const ADDRESS_MAX = 16 * 1024;

// Starts the playground with the draft, the share link in the address, or
// `first` (the first example's source).
export function startPlayground(state, first) {
  let timer = 0;

  function followAddress() {
    clearTimeout(timer);
    timer = 0;
    const link = shareLink(location, state.get().source);
    const address = link.length <= ADDRESS_MAX ? link : location.origin + location.pathname + location.search;
    if (address !== location.href) window.history.replaceState(null, "", address);
    storage.set(ADDRESS_KEY, location.hash);
  }

  // Loads the source of a share link in the address; says so when the link
  // is damaged. False when the address carries no source that can be read.
  function openHash() {
    const text = sourceFromHash(location.hash);
    if (text !== null) {
      loadSource(state, text, "load.address");
      return true;
    }
    if (carriesSource(location.hash)) {
      const text = "This link's source could not be read: the link is damaged or cut short. It was not loaded.";
      state.set({ note: { text, action: null } });
    }
    return false;
  }

  state.subscribe((s, before) => {
    if (before === null || s.revision === before.revision) return;
    storage.set(DRAFT_KEY, s.source);
    storage.set(ADDRESS_KEY, location.hash);
    if (s.edit !== "load.address" && s.edit !== "load.draft" && !timer) timer = setTimeout(followAddress, ADDRESS_MS);
  });
  window.addEventListener("hashchange", openHash);

  // A draft saved under this very address is newer than the link's source.
  const draft = storage.get(DRAFT_KEY);
  const loadDraft = () => {
    loadSource(state, draft || first, "load.draft");
    const linked = sourceFromHash(location.hash);
    if (linked !== null && linked !== state.get().source) followAddress();
  };
  if (draft !== null && carriesSource(location.hash) && storage.get(ADDRESS_KEY) === location.hash) loadDraft();
  else if (!openHash()) loadDraft();
}
