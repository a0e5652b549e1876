// Names the source declares, in order: the parameters, then the variables.
// The source compiled, so a declaration is "int NAME" followed by "=", ","
// or ")"; the first "int NAME" is the function itself.
export function declaredNames(source) {
  const names = [];
  const params = [];
  const head = source.indexOf(")");
  for (const m of source.matchAll(/\b(?:int|void)\s+([\p{L}\p{N}_]+)\s*([=,)(])/gu)) {
    if (m[2] === "(") continue;
    names.push(m[1]);
    if (m.index < head) params.push(m[1]);
  }
  return { names, params };
}
