// quern playground: edits the source of one function, posts it to the
// compile endpoint and shows the assembly or the error report, marking the
// line and column that a report points at.
"use strict";

(() => {
  // The service accepts exactly this header value and bodies below 64 KiB.
  const CONTENT_TYPE = "text/plain; charset=UTF-8";
  const MAX_BYTES = 65535;
  const TIMEOUT_MS = 30000;
  const DRAFT_KEY = "quern.playground.source";

  const EXAMPLES = [
    {
      name: "Summing loop",
      source:
        "int f(int n) {\n" +
        "    int s = 0;\n" +
        "    while (n > 0) {\n" +
        "        s = s + n;\n" +
        "        n = n - 1;\n" +
        "    }\n" +
        "    return s;\n" +
        "}\n",
    },
    {
      name: "If / else",
      source:
        "int max(int a, int b) {\n" +
        "    if (a > b) {\n" +
        "        return a;\n" +
        "    } else {\n" +
        "        return b;\n" +
        "    }\n" +
        "}\n",
    },
    {
      name: "Syntax error",
      source:
        "int f(int n) {\n" +
        "    int s = 0;\n" +
        "    while (n > 0 {\n" +
        "        s = s + n;\n" +
        "    }\n" +
        "    return s;\n" +
        "}\n",
    },
    {
      name: "Validation error",
      source:
        "int f(int n) {\n" +
        "    int s = 0;\n" +
        "    s = s + m;\n" +
        "    return s;\n" +
        "}\n",
    },
  ];

  const $ = (id) => document.getElementById(id);
  const source = $("source");
  const numbers = $("numbers");
  const gutter = $("gutter");
  const gutterInner = $("gutter-inner");
  const overlay = $("overlay");
  const overlayInner = $("overlay-inner");
  const output = $("output");
  const statusEl = $("status");
  const notice = $("notice");
  const resultTitle = $("result-title");
  const bytesEl = $("bytes");
  const compileButton = $("compile");
  const examples = $("examples");
  const encoder = new TextEncoder();

  let lineCount = 0;
  let busy = false;
  let tabReleased = false;
  let positions = [];

  // Positions in reports: lines and columns count from 1, columns count
  // Unicode characters (code points), not UTF-16 units.
  const SYNTAX_RE = /^ERROR Syntax error at line (\d+), column (\d+)\./;
  const VALIDATION_RE = /^ERROR at line (\d+) column (\d+): (.*)$/;

  function parseReport(report) {
    const found = [];
    const lines = report.split("\n");
    lines.forEach((text, index) => {
      let m = SYNTAX_RE.exec(text);
      if (m) {
        const causes = lines
          .slice(index + 1)
          .filter((l) => l.startsWith(" * "))
          .map((l) => l.slice(3));
        const message = causes.length ? "Syntax error: " + causes.join("; ") : "Syntax error";
        found.push({ line: +m[1], column: +m[2], message, reportLine: index });
        return;
      }
      m = VALIDATION_RE.exec(text);
      if (m) found.push({ line: +m[1], column: +m[2], message: m[3], reportLine: index });
    });
    return found;
  }

  // UTF-16 offset in `text` of the character at (line, column); past the end
  // of a line it is clamped to the line's end.
  function offsetOf(text, line, column) {
    const lines = text.split("\n");
    const l = Math.min(Math.max(line, 1), lines.length);
    let offset = 0;
    for (let i = 0; i < l - 1; i++) offset += lines[i].length + 1;
    const chars = Array.from(lines[l - 1]);
    const before = chars.slice(0, Math.max(column - 1, 0)).join("");
    return offset + before.length;
  }

  function metrics() {
    const style = getComputedStyle(source);
    return {
      lineHeight: parseFloat(style.lineHeight),
      padTop: parseFloat(style.paddingTop),
    };
  }

  function updateGutter() {
    const text = source.value;
    let count = 1;
    for (let i = text.indexOf("\n"); i !== -1; i = text.indexOf("\n", i + 1)) count++;
    if (count !== lineCount) {
      lineCount = count;
      const parts = new Array(count);
      for (let i = 0; i < count; i++) parts[i] = String(i + 1);
      numbers.textContent = parts.join("\n");
      numbers.style.minWidth = String(Math.max(String(count).length + 2, 4)) + "ch";
    }
  }

  function updateBytes() {
    const n = encoder.encode(source.value).length;
    bytesEl.textContent = `${n.toLocaleString("en-US")} / ${MAX_BYTES.toLocaleString("en-US")} bytes`;
    bytesEl.classList.toggle("over", n > MAX_BYTES);
  }

  function syncScroll() {
    const y = source.scrollTop;
    const x = source.scrollLeft;
    gutterInner.style.transform = `translateY(${-y}px)`;
    overlayInner.style.transform = `translate(${-x}px, ${-y}px)`;
  }

  function clearMarkers() {
    positions = [];
    overlayInner.replaceChildren();
    gutterInner.querySelectorAll(".gutter-marker").forEach((el) => el.remove());
  }

  function showMarkers(found) {
    clearMarkers();
    positions = found;
    if (!found.length) return;
    const { lineHeight, padTop } = metrics();
    const lines = source.value.split("\n");
    const seen = new Set();
    for (const p of found) {
      const line = Math.min(Math.max(p.line, 1), lines.length);
      const top = `${padTop + (line - 1) * lineHeight}px`;
      if (!seen.has(line)) {
        seen.add(line);
        const g = document.createElement("div");
        g.className = "gutter-marker";
        g.dataset.line = String(p.line);
        g.dataset.column = String(p.column);
        g.title = `Line ${p.line}, column ${p.column}: ${p.message}`;
        g.textContent = String(p.line);
        g.style.top = top;
        gutterInner.prepend(g);
      }
      const chars = Array.from(lines[line - 1]);
      const col = Math.min(Math.max(p.column, 1), chars.length + 1);
      const row = document.createElement("div");
      row.className = "error-line";
      row.dataset.line = String(p.line);
      row.style.top = top;
      const prefix = document.createElement("span");
      prefix.className = "prefix";
      prefix.textContent = chars.slice(0, col - 1).join("");
      const mark = document.createElement("span");
      mark.className = "error-marker";
      mark.dataset.line = String(p.line);
      mark.dataset.column = String(p.column);
      mark.title = p.message;
      const ch = chars[col - 1];
      mark.textContent = ch === undefined || ch === "\t" ? " " : ch;
      row.append(prefix, mark);
      overlayInner.append(row);
    }
    syncScroll();
  }

  function placeCaret(p) {
    const offset = offsetOf(source.value, p.line, p.column);
    source.focus({ preventScroll: true });
    source.setSelectionRange(offset, offset);
    const { lineHeight, padTop } = metrics();
    const y = padTop + (p.line - 1) * lineHeight;
    if (y < source.scrollTop || y + lineHeight > source.scrollTop + source.clientHeight) {
      source.scrollTop = Math.max(0, y - source.clientHeight / 2);
    }
    syncScroll();
  }

  function setStatus(kind, text) {
    statusEl.className = `status ${kind}`;
    statusEl.textContent = text;
  }

  function showNotice(text) {
    notice.textContent = text;
    notice.hidden = !text;
  }

  function showAssembly(text) {
    output.className = "output assembly";
    output.replaceChildren();
    for (const line of text.split(/(?<=\n)/)) {
      if (/^[^\s].*:\n?$/.test(line)) {
        const span = document.createElement("span");
        span.className = "label";
        span.textContent = line;
        output.append(span);
      } else {
        output.append(document.createTextNode(line));
      }
    }
  }

  function showReport(text, found) {
    output.className = "output report";
    output.replaceChildren();
    const byLine = new Map(found.map((p) => [p.reportLine, p]));
    text.split(/(?<=\n)/).forEach((line, index) => {
      const p = byLine.get(index);
      if (!p) {
        output.append(document.createTextNode(line));
        return;
      }
      const body = line.replace(/\n$/, "");
      const span = document.createElement("span");
      span.className = "where";
      span.title = "Show in the editor";
      span.textContent = body;
      span.addEventListener("click", () => placeCaret(p));
      output.append(span, document.createTextNode(line.slice(body.length)));
    });
  }

  async function compile() {
    if (busy) return;
    const text = source.value;
    const body = encoder.encode(text);
    clearMarkers();
    if (body.length > MAX_BYTES) {
      setStatus("fail", "not sent");
      resultTitle.textContent = "Output";
      output.className = "output";
      output.replaceChildren();
      showNotice(
        `The source is ${body.length.toLocaleString("en-US")} bytes in UTF-8; the service accepts ` +
          `at most ${MAX_BYTES.toLocaleString("en-US")} bytes. Shorten it and compile again.`,
      );
      return;
    }

    busy = true;
    compileButton.disabled = true;
    setStatus("busy", "compiling…");
    showNotice("");
    const url = new URL("compile", document.baseURI).href;
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
    const started = performance.now();
    try {
      // A string body would go out as "text/plain;charset=UTF-8", which the
      // service refuses; bytes with an explicit header are sent as given.
      const response = await fetch(url, {
        method: "POST",
        headers: { "Content-Type": CONTENT_TYPE },
        body,
        cache: "no-store",
        signal: controller.signal,
      });
      const answer = await response.text();
      const ms = Math.round(performance.now() - started);
      const label = `${response.status} ${response.statusText || ""}`.trim();
      if (response.status === 200) {
        setStatus("ok", `${label} · ${ms} ms`);
        resultTitle.textContent = "Assembly";
        showAssembly(answer);
      } else if (response.status === 400) {
        setStatus("bad", `${label} · ${ms} ms`);
        const found = parseReport(answer);
        resultTitle.textContent = answer.startsWith("ERROR") ? "Error report" : "Request refused";
        showReport(answer, found);
        if (source.value === text) {
          showMarkers(found);
          if (found.length) placeCaret(found[0]);
        }
      } else {
        setStatus("fail", label);
        resultTitle.textContent = "Output";
        const plain = (response.headers.get("Content-Type") || "").startsWith("text/plain");
        output.className = "output report";
        output.textContent = plain ? answer : "";
        showNotice(`The server answered ${label} instead of assembly or an error report.`);
      }
    } catch (err) {
      setStatus("fail", "no answer");
      resultTitle.textContent = "Output";
      output.className = "output";
      output.replaceChildren();
      showNotice(
        err && err.name === "AbortError"
          ? `The server did not answer within ${TIMEOUT_MS / 1000} seconds (${url}).`
          : `Cannot reach the compile service at ${url}. Is the server running ` +
              `(scripts/serve.sh)? Check it and compile again.`,
      );
    } finally {
      clearTimeout(timer);
      busy = false;
      compileButton.disabled = false;
    }
  }

  function loadSource(text) {
    source.value = text;
    source.scrollTop = 0;
    source.scrollLeft = 0;
    onEdit();
  }

  function onEdit() {
    const ex = EXAMPLES[Number(examples.value)];
    if (examples.value !== "" && (!ex || ex.source !== source.value)) examples.value = "";
    clearMarkers();
    updateGutter();
    updateBytes();
    syncScroll();
    try {
      localStorage.setItem(DRAFT_KEY, source.value);
    } catch {
      // Storage may be disabled; the draft is a convenience only.
    }
  }

  for (const [i, ex] of EXAMPLES.entries()) {
    const option = document.createElement("option");
    option.value = String(i);
    option.textContent = ex.name;
    examples.append(option);
  }
  examples.addEventListener("change", () => {
    const ex = examples.value === "" ? undefined : EXAMPLES[Number(examples.value)];
    if (ex) loadSource(ex.source);
    source.focus();
  });

  source.addEventListener("input", onEdit);
  source.addEventListener("scroll", syncScroll);
  source.addEventListener("keydown", (e) => {
    if (e.key === "Escape") {
      tabReleased = true; // the next Tab leaves the editor
      return;
    }
    if (e.key === "Tab" && !e.shiftKey && !e.ctrlKey && !e.metaKey && !e.altKey && !tabReleased) {
      e.preventDefault();
      document.execCommand("insertText", false, "    ");
    }
    tabReleased = false;
  });
  document.addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      compile();
    }
  });
  compileButton.addEventListener("click", compile);
  window.addEventListener("resize", () => showMarkers(positions));

  if (/Mac|iPhone|iPad/.test(navigator.platform)) $("shortcut").textContent = "⌘+Enter";

  let draft = null;
  try {
    draft = localStorage.getItem(DRAFT_KEY);
  } catch {
    draft = null;
  }
  if (draft !== null && draft !== "") {
    const i = EXAMPLES.findIndex((ex) => ex.source === draft);
    if (i >= 0) examples.value = String(i);
    loadSource(draft);
  } else {
    examples.value = "0";
    loadSource(EXAMPLES[0].source);
  }

  // For tests and the console.
  window.quernPlayground = { compile, parseReport, offsetOf, EXAMPLES };
})();
