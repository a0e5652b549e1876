// Generated programs for the tests that compare the page's code with the
// library's.

// A small deterministic generator (mulberry32), so a failure can be replayed.
export function random(seed) {
  return () => {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// Functions of parameters a and b and variables x, y, c: expressions long
// enough to spill, every comparison, nested if/else, and while loops that
// count c down so that they end.
export function program(rnd) {
  const pick = (xs) => xs[Math.floor(rnd() * xs.length)];
  const operand = () => (rnd() < 0.3 ? "-" : "") + (rnd() < 0.4 ? String(Math.floor(rnd() * 128)) : pick(["a", "b", "x", "y"]));
  const expr = () => {
    let e = operand();
    for (let n = Math.floor(rnd() * 5); n > 0; n--) e += ` ${pick(["+", "-"])} ${operand()}`;
    return e;
  };
  const cond = () => `${expr()} ${pick(["==", "!=", ">=", "<=", ">", "<"])} ${expr()}`;
  const block = (depth, pad) => {
    const out = [];
    for (let n = 1 + Math.floor(rnd() * 3); n > 0; n--) {
      const r = rnd();
      if (depth < 2 && r < 0.2) {
        out.push(`${pad}if (${cond()}) {`, ...block(depth + 1, pad + "  "));
        if (rnd() < 0.5) out.push(`${pad}} else {`, ...block(depth + 1, pad + "  "));
        out.push(`${pad}}`);
      } else if (depth === 0 && r < 0.35) {
        out.push(`${pad}c = ${1 + Math.floor(rnd() * 6)};`, `${pad}while (c > 0) {`);
        out.push(...block(depth + 1, pad + "  "), `${pad}  c = c - 1;`, `${pad}}`);
      } else if (r < 0.45) {
        out.push(`${pad}return ${expr()};`);
      } else {
        out.push(`${pad}${pick(["a", "b", "x", "y"])} = ${expr()};`);
      }
    }
    return out;
  };
  const x = Math.floor(rnd() * 128);
  return ["int f(int a, int b) {", `  int x = ${x};`, "  int y = 0;", "  int c = 0;", ...block(0, "  "), "  return x + y;", "}", ""].join("\n");
}
