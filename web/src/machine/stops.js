// Where runs stop: the instructions that lines of the listing and of the
// source stand for, as indices into the code of a loaded program. `listing`
// is the answer's lines of the assembly pane ({ text, source, kind, … }).
const isData = (listing, ins) => listing[ins.line]?.kind === "data";

// The instruction of listing line n (1-based): the line's own, or for a
// label the one after it; null for a data word.
export function instructionAtListing(program, listing, n) {
  const i = program.code.findIndex((ins) => ins.line >= n - 1);
  return i >= 0 && !isData(listing, program.code[i]) ? i : null;
}

// The first instruction of source line s, or null when it has none.
export function instructionOfSource(program, listing, s) {
  const i = program.code.findIndex((ins) => listing[ins.line]?.source === s && !isData(listing, ins));
  return i >= 0 ? i : null;
}

// The source line of instruction i, or null.
export const sourceOf = (program, listing, i) => listing[program.code[i]?.line]?.source ?? null;

// Instruction i for a reader: "assembly line 12 (source line 5)".
export function where(program, listing, i) {
  const s = sourceOf(program, listing, i);
  return `assembly line ${program.code[i].line + 1}${s ? ` (source line ${s})` : ""}`;
}

// The instructions that the breakpoints ({ source: [n…], listing: [n…] })
// stand for, as a set of indices into the code.
export function breakpointStops(program, listing, breakpoints) {
  const stops = new Set([
    ...breakpoints.listing.map((n) => instructionAtListing(program, listing, n)),
    ...breakpoints.source.map((s) => instructionOfSource(program, listing, s)),
  ]);
  stops.delete(null);
  return stops;
}
