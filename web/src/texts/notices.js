// What the page says of a compile's outcome beside the listing.
import { LIMITS } from "../isa.js";
import { fmt } from "./format.js";

// The notice of an outcome: "" when there is nothing to say. `kept` tells
// whether a last good answer is kept.
export function noticeOf(outcome, kept) {
  if (outcome?.kind === "not sent") {
    return (
      `The source is ${fmt(outcome.bytes)} bytes in UTF-8; the compiler takes at most ` +
      `${fmt(LIMITS.bodyBytes)} bytes. Shorten it and compile again.`
    );
  }
  if (outcome?.kind === "failed") {
    return `${outcome.error} This source was not compiled; your code${kept ? ", the last assembly and the machine are" : " is"} kept.`;
  }
  return "";
}
