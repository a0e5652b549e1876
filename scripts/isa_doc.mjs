// Writes the instruction table of docs/language.md from src/isa.json, between
// its markers. The page's reference is built from the same table.
import { readFile, writeFile } from "node:fs/promises";
import { withInstructionTable } from "../web/src/isa.js";

const file = new URL("../docs/language.md", import.meta.url);
await writeFile(file, withInstructionTable(await readFile(file, "utf8")));
