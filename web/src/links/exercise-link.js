// Exercise links: the page's address, then "#exercise=" and the base64url
// (without padding) of the UTF-8 bytes of a JSON object
//   {"title": "...", "task": "...", "source": "...", "cases": "..."}
// with `cases` in the text of a case file. Links handed out to learners
// depend on this format: keep it. Other members are ignored.
import { decodeText, encodeText } from "./base64url.js";

export const PREFIX = "#exercise=";
const FIELDS = ["title", "task", "source", "cases"];

export function exerciseLink(location, exercise) {
  const object = Object.fromEntries(FIELDS.map((k) => [k, exercise[k]]));
  return location.origin + location.pathname + location.search + PREFIX + encodeText(JSON.stringify(object));
}

// A name for the learner's draft of one exercise: two 32-bit FNV-1a hashes
// (with different starts) of the link's payload.
function draftKey(code) {
  const fnv = (h) => {
    for (let i = 0; i < code.length; i++) h = Math.imul(h ^ code.charCodeAt(i), 16777619);
    return (h >>> 0).toString(16).padStart(8, "0");
  };
  return `quern.exercise.${fnv(2166136261)}${fnv(0x9747b28c)}`;
}

// What a hash carries: null when it is no exercise link; { error } when it is
// a damaged one; otherwise { exercise, key } with the four fields and the
// storage key of its draft.
export function readExercise(hash) {
  if (!hash.startsWith(PREFIX)) return null;
  const code = hash.slice(PREFIX.length);
  const damaged = (why) => ({ error: `This exercise link is damaged: ${why}. Ask for the link again.` });
  const { text, error } = decodeText(code);
  if (error) return damaged(error);
  let object;
  try {
    object = JSON.parse(text);
  } catch {
    return damaged("it does not hold a JSON object");
  }
  if (object === null || typeof object !== "object" || Array.isArray(object)) {
    return damaged("it does not hold a JSON object");
  }
  const missing = FIELDS.filter((k) => typeof object[k] !== "string");
  if (missing.length) return damaged(`${missing.map((k) => `"${k}"`).join(", ")} missing or not text`);
  return { exercise: Object.fromEntries(FIELDS.map((k) => [k, object[k]])), key: draftKey(code) };
}
