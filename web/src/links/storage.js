// The browser's storage for drafts. Storage may be disabled or full; a draft
// is a convenience only, so a failure reads as nothing stored.
const attempt = (f) => {
  try {
    return f();
  } catch {
    return null;
  }
};

export const storage = {
  get: (key) => attempt(() => localStorage.getItem(key)),
  set: (key, value) => attempt(() => localStorage.setItem(key, value)),
  remove: (key) => attempt(() => localStorage.removeItem(key)),
};

// The same for what one tab remembers while it is open.
export const tabStorage = {
  get: (key) => attempt(() => sessionStorage.getItem(key)),
  set: (key, value) => attempt(() => sessionStorage.setItem(key, value)),
};
