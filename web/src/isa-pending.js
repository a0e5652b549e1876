// TODO: replace by web/src/isa.js once it lands on main.
export const LIMITS = { bodyBytes: 65535, defaultSteps: 1000000, maxSteps: 10000000 };
