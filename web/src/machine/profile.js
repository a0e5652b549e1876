// The profile of a run: how many times each basic block of the answer's
// `cfg`, and each source line, ran, read from the machine's count of runs of
// each instruction. A block is entered only at its first instruction, so the
// count of that instruction is the block's. A source line ran as often as the
// most run of its instructions (a `while` line's compare runs once more than
// its body).

// The index in `lines` of each block's first instruction, or -1 for a block
// without one.
export function blockHeads(answer) {
  return answer.cfg.map(({ from, to }) => {
    for (let i = from; i <= to; i++) if (answer.lines[i].kind === "instruction") return i;
    return -1;
  });
}

// The block (its index) that holds line `index` of `lines`, or -1.
export function blockOfLine(cfg, index) {
  let lo = 0;
  let hi = cfg.length - 1;
  while (lo <= hi) {
    const mid = (lo + hi) >> 1;
    if (cfg[mid].to < index) lo = mid + 1;
    else if (cfg[mid].from > index) hi = mid - 1;
    else return mid;
  }
  return -1;
}

// How hot a count is beside the highest count of its kind, `max`: 0 for
// none, else 1 to 4.
export const heatOf = (n, max) => (n > 0 ? Math.ceil((4 * n) / Math.max(1, max)) : 0);

// { blocks: [count], sources: Map(source line -> count), steps } for the
// machine `machine` loaded with `listing`; null when that is not the answer's
// own listing (the one before the optimiser) or there is no machine. The
// graph and the source's gutter both ask for it each time the machine stops:
// the machine keeps the last one made. A machine's counts follow from its
// steps (a reset makes a new machine), so the same machine at the same step
// has the same profile.
export function profile(answer, listing, machine) {
  if (!answer?.cfg || !machine || listing !== answer.lines) return null;
  const last = machine.profiled;
  if (last?.answer === answer && last.steps === machine.steps) return last.run;
  const byLine = new Int32Array(answer.lines.length).fill(-1);
  machine.program.code.forEach((ins, pc) => (byLine[ins.line] = pc));
  const runsOf = (i) => (i < 0 || byLine[i] < 0 ? 0 : machine.runs[byLine[i]]);
  const blocks = blockHeads(answer).map(runsOf);
  const sources = new Map();
  answer.lines.forEach((line, i) => {
    if (line.kind !== "instruction" || line.source === null) return;
    sources.set(line.source, Math.max(sources.get(line.source) ?? 0, runsOf(i)));
  });
  const run = { blocks, sources, steps: machine.steps };
  machine.profiled = { answer, steps: machine.steps, run };
  return run;
}
