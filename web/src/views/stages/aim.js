// Where the stage views point, kept in the page's state as `aim`: the
// cursor of the source, or of the listing while the learner works there, and
// the mouse over either editor while it is there and has moved since the
// cursor last did. Also the lookups that the views share: positions
// compared, and the tokens of a source line.
import { EditorView } from "@codemirror/view";
import { before, length, tokenIndexAt } from "../../compiler/positions.js";

// { line, column } of offset `head` in an editor's state (column in
// characters, from 1, as the answer counts them).
function positionAt(editorState, head) {
  const line = editorState.doc.lineAt(head);
  return { line: line.number, column: [...line.text.slice(0, head - line.from)].length + 1 };
}

const same = (a, b) => a === b || (a && b && a.editor === b.editor && a.line === b.line && a.column === b.column);

// The editor's extension that tells `state` where `editor` ("source" or
// "listing") points. The state changes after the editor's update, and only
// when the place does. A move of the cursor takes over from the mouse until
// the mouse moves again: a mouse at rest over an editor does not hold the
// views while the keys move on (a mousemove at the place the mouse rests,
// as after a scroll, is no move).
export function aimAt(state, editor) {
  let rest = null; // the mouse's last place over this editor, in pixels
  const tell = (change) =>
    queueMicrotask(() => {
      const aim = state.get().aim ?? { cursor: null, mouse: null };
      if (Object.keys(change).some((k) => !same(aim[k], change[k]))) state.set({ aim: { ...aim, ...change } });
    });
  return [
    EditorView.updateListener.of((u) => {
      if ((u.selectionSet || u.docChanged) && (editor === "source" || u.view.hasFocus)) tell({ cursor: { editor, ...positionAt(u.state, u.state.selection.main.head) }, mouse: null });
    }),
    EditorView.domEventHandlers({
      mousemove: (ev, view) => {
        if (rest?.x === ev.clientX && rest?.y === ev.clientY) return;
        rest = { x: ev.clientX, y: ev.clientY };
        const pos = view.posAtCoords(rest);
        if (pos !== null) tell({ mouse: { editor, ...positionAt(view.state, pos) } });
      },
      mouseleave: () => {
        rest = null;
        tell({ mouse: null }); // back to the cursor
      },
    }),
  ];
}

// Where the views point in state `s`: { editor, line, column }, or null.
export const aimOf = (s) => s.aim?.mouse ?? s.aim?.cursor ?? null;

export const after = ({ line, column }) => ({ line, column: column + 1 });

// The tokens that a place in the views stands for, as indices [from, to):
// in the source, the token at the place (touching it on either side, the
// first); at a line of the listing, every token of its source line.
export function tokensAt(s, aim) {
  const tokens = s.answer?.tokens ?? [];
  if (!aim) return [0, 0];
  if (aim.editor === "source") {
    let k = tokenIndexAt(tokens, { line: aim.line, column: aim.column + 1 });
    while (k > 0 && tokens[k - 1].line === aim.line && tokens[k - 1].column + length(tokens[k - 1]) >= aim.column) k--;
    const t = tokens[k];
    return t && t.line === aim.line && t.column <= aim.column && aim.column <= t.column + length(t) ? [k, k + 1] : [0, 0];
  }
  const source = (s.before ? s.answer.unoptimised : s.answer.lines)?.[aim.line - 1]?.source;
  if (!source) return [0, 0];
  return [tokenIndexAt(tokens, { line: source, column: 1 }), tokenIndexAt(tokens, { line: source + 1, column: 1 })];
}
