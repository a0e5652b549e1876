// The explain answer as the compiler's worker hands it to the page: the
// module's own JSON in its short form (docs/answer.md), in which a line of
// `unoptimised` that the optimiser kept as it was is the number of the line
// of `lines` that it became. The largest listings have some 175,000 lines,
// and every object the page holds makes its garbage collector's pauses
// longer.

// The answer with such lines made into lines again, { ...lines[k], fate:
// "kept", becomes: k }, when `unoptimised` is first read.
export function answerOf(json) {
  const short = json.unoptimised;
  if (!Array.isArray(short) || !short.some((u) => typeof u === "number")) return json;
  let lines = null;
  return Object.defineProperty(json, "unoptimised", {
    enumerable: true,
    configurable: true,
    // Object.assign, not a spread: V8 spreads these objects some twenty
    // times slower, a second and more on the largest listing.
    get: () => (lines ??= short.map((u) => (typeof u === "number" ? Object.assign({}, json.lines[u], { fate: "kept", becomes: u }) : u))),
  });
}
