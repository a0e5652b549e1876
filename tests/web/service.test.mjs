// The service under load and at its limits, each test against a server of
// its own started through scripts/serve.sh with the settings it needs:
// who the processes run as, a burst of worst-case requests with the memory
// of the server's processes sampled throughout, stalled connections, a full
// queue, compiles stopped at lowered limits, and the systemd unit.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { readFileSync, readdirSync, statSync } from "node:fs";
import net from "node:net";
import path from "node:path";
import { describe, test } from "node:test";
import { SUM_ASM, SUM_SOURCE } from "./cases.mjs";
import { BUILD_DIR, compile, startServer } from "./server.mjs";

const MiB = 1 << 20;

// The deepest 65535-byte body: 7279 nested `if`.
function deepestIf(budget = 65535) {
  const [head, open, middle, close, tail] = ["int f(int a) {", "if(a>a){", "a=a;", "}", "}"];
  const count = Math.floor((budget - head.length - middle.length - tail.length) / (open.length + close.length));
  return head + open.repeat(count) + middle + close.repeat(count) + tail;
}
const DEEP = deepestIf();

// The 65535-byte body that costs the most CPU time: a chain of negations,
// every operand spilled. It takes several scheduler ticks of CPU time, so a
// CPU limit of 1 ms, which the kernel checks at each tick, always stops it.
function spillingChain(budget = 65535) {
  const [head, unit, tail] = ["int f(int a) { a = -a", "+-a", "; return a; }"];
  const count = Math.floor((budget - head.length - tail.length) / unit.length);
  return head + unit.repeat(count) + tail;
}

// The cgi run directly, without a server, with the settings of `env`.
function runCgi(source, env = {}) {
  return spawnSync(path.join(BUILD_DIR, "cgi"), {
    input: source,
    env: { CONTENT_TYPE: "text/plain; charset=UTF-8", CONTENT_LENGTH: String(Buffer.byteLength(source)), ...env },
    maxBuffer: 64 * MiB,
  });
}

// The answer's body as the cgi gives it when run directly.
function directAnswer(source) {
  const r = runCgi(source);
  const out = r.stdout.toString("utf8");
  assert.equal(r.status, 0, r.stderr.toString());
  assert.ok(out.startsWith("Content-Type: text/plain\nStatus: 200 OK\r\n\r\n"), out.slice(0, 100));
  return out.slice(out.indexOf("\r\n\r\n") + 4);
}

// lighttpd's process in a server's process group.
function lighttpdOf(group) {
  for (const name of readdirSync("/proc")) {
    try {
      const stat = readFileSync(`/proc/${name}/stat`, "utf8");
      const close = stat.lastIndexOf(")");
      if (stat.slice(stat.indexOf("(") + 1, close) === "lighttpd" && Number(stat.slice(close + 2).split(" ")[2]) === group) {
        return Number(name);
      }
    } catch {
      // not a process, or gone meanwhile
    }
  }
  throw new Error(`no lighttpd in process group ${group}`);
}

// lighttpd and the cgi processes it runs, with their user and their
// anonymous resident memory (resident minus file-backed pages: what a
// process costs beyond the page cache its binary shares). A process that
// ends while it is read is left out, and so is a child that is not yet the
// cgi. Sampling must cost little beside the load it watches: a process's
// user is read once.
const users = new Map();
function serverProcesses(server) {
  const read = (pid, comm) => {
    const [, resident, shared] = readFileSync(`/proc/${pid}/statm`, "utf8").split(" ").map(Number);
    // Real, effective, saved and file-system user: all must be given up.
    if (!users.has(pid)) users.set(pid, /^Uid:\s+(.*)$/m.exec(readFileSync(`/proc/${pid}/status`, "utf8"))[1].split(/\s+/).map(Number));
    return { pid, comm, uid: users.get(pid), anon: (resident - shared) * 4096 };
  };
  const found = [read(server, "lighttpd")];
  for (const pid of readFileSync(`/proc/${server}/task/${server}/children`, "utf8").split(" ").filter(Boolean)) {
    try {
      if (readFileSync(`/proc/${pid}/comm`, "utf8") === "cgi\n") found.push(read(pid, "cgi"));
    } catch {
      // gone meanwhile
    }
  }
  return found;
}

const sum = (list, key) => list.reduce((total, p) => total + p[key], 0);

async function withServer(env, body) {
  const server = await startServer({ env });
  try {
    await body(server);
  } finally {
    await server.stop();
  }
}

function readFrom(file, offset) {
  try {
    return readFileSync(file).subarray(offset).toString("utf8");
  } catch {
    return ""; // not written yet
  }
}

// Waits (bounded) until what the file gained past offset matches pattern;
// returns that text. Logs are kept across restarts of a server.
async function waitForLine(file, offset, pattern, timeoutMs = 10_000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const text = readFrom(file, offset);
    if (pattern.test(text)) return text;
    if (Date.now() > deadline) return text;
    await new Promise((r) => setTimeout(r, 50));
  }
}

describe("under load", () => {
  const SLOTS = 4;
  // One compile of the deepest body peaks at about 25 MiB of resident
  // memory; a process waiting for its slot holds well under 1 MiB of its own.
  const COMPILE_PEAK = 32 * MiB;
  const WAITING = 1 * MiB;
  const SERVER_BUFFERS = 64 * MiB;

  test("600 worst-case requests, 300 at a time: all answered exactly, memory within the bound, never as root", { timeout: 240_000 }, async () => {
    const expected = directAnswer(DEEP);
    await withServer({ QUERN_SLOTS: String(SLOTS) }, async (server) => {
      const lighttpd = lighttpdOf(server.group);
      const before = serverProcesses(lighttpd);
      const baseline = sum(before, "anon");
      const me = process.getuid();
      const seen = new Set();
      let peak = baseline;
      let mostCompiling = 0;
      let mostProcesses = 0;
      let sampling = true;
      const sampler = (async () => {
        while (sampling) {
          const now = serverProcesses(lighttpd);
          for (const p of now) seen.add(`${p.comm}:${p.uid}`);
          peak = Math.max(peak, sum(now, "anon"));
          // A cgi process grows past a few MiB only once it holds a slot.
          mostCompiling = Math.max(mostCompiling, now.filter((p) => p.comm === "cgi" && p.anon > 4 * MiB).length);
          mostProcesses = Math.max(mostProcesses, now.filter((p) => p.comm === "cgi").length);
          await new Promise((r) => setTimeout(r, 200));
        }
      })();

      const TOTAL = 600;
      const AT_ONCE = 300;
      let next = 0;
      const failures = [];
      const client = async () => {
        while (next < TOTAL) {
          const i = next++;
          try {
            const res = await compile(server.base, DEEP, { timeoutMs: 60_000 });
            if (res.status !== 200 || res.body !== expected) failures.push(`#${i}: ${res.status} ${res.body.slice(0, 80)}`);
          } catch (err) {
            failures.push(`#${i}: ${err.message}`);
          }
        }
      };
      const started = Date.now();
      await Promise.all(Array.from({ length: AT_ONCE }, client));
      const seconds = (Date.now() - started) / 1000;
      sampling = false;
      await sampler;

      const rise = peak - baseline;
      const bound = SLOTS * COMPILE_PEAK + AT_ONCE * WAITING + SERVER_BUFFERS;
      console.log(
        `# ${TOTAL} requests in ${seconds.toFixed(1)} s; server memory (anonymous resident) ${(baseline / MiB).toFixed(1)} MiB idle, ` +
          `peak rise ${(rise / MiB).toFixed(1)} MiB (bound ${(bound / MiB).toFixed(0)} MiB); ` +
          `most cgi processes ${mostProcesses}, most compiling ${mostCompiling} of ${SLOTS} slots`,
      );
      assert.deepEqual(failures.slice(0, 5), []);
      assert.ok(rise <= bound, `memory rose by ${rise / MiB} MiB`);
      assert.ok(mostCompiling <= SLOTS, `${mostCompiling} compiles at once`);
      // lighttpd and the cgi processes: never root when started by root,
      // else the starting user.
      const who = [...seen];
      assert.ok(who.some((u) => u.startsWith("lighttpd:")) && who.some((u) => u.startsWith("cgi:")), who.join(" "));
      for (const u of who) {
        const ids = u.split(":")[1].split(",").map(Number);
        assert.ok(ids.every((id) => (me === 0 ? id !== 0 : id === me)), `${u} (test runs as ${me})`);
      }
    });
  });

  test("300 stalled connections do not keep a normal request from its answer within 2 s", { timeout: 60_000 }, async () => {
    await withServer({}, async (server) => {
      const { port } = new URL(server.base);
      const sockets = [];
      try {
        // Each sends half a request header and waits.
        await Promise.all(
          Array.from({ length: 300 }, () =>
            new Promise((resolve, reject) => {
              const s = net.connect({ host: "127.0.0.1", port: Number(port) }, () => {
                s.write("POST /compile HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-");
                resolve();
              });
              s.on("error", reject);
              sockets.push(s);
            }),
          ),
        );
        const started = Date.now();
        const res = await compile(server.base, SUM_SOURCE);
        const ms = Date.now() - started;
        console.log(`# answered in ${ms} ms beside 300 stalled connections`);
        assert.equal(res.status, 200);
        assert.equal(res.body, SUM_ASM);
        assert.ok(ms < 2000, `${ms} ms`);
        assert.ok(sockets.every((s) => !s.destroyed), "a stalled connection was dropped early");
      } finally {
        for (const s of sockets) s.destroy();
      }
    });
  });

  test("a full queue is refused at once with 503 and Retry-After; every other request is answered exactly", { timeout: 120_000 }, async () => {
    const expected = directAnswer(DEEP);
    await withServer({ QUERN_SLOTS: "1", QUERN_QUEUE: "1" }, async (server) => {
      const answers = await Promise.all(Array.from({ length: 60 }, () => compile(server.base, DEEP, { timeoutMs: 60_000 })));
      const refused = answers.filter((r) => r.status === 503);
      const answered = answers.filter((r) => r.status === 200);
      console.log(`# ${answered.length} answered, ${refused.length} refused`);
      assert.equal(refused.length + answered.length, answers.length, answers.map((r) => r.status).join(" "));
      assert.ok(answered.length >= 1 && refused.length >= 1);
      for (const r of answered) assert.equal(r.body, expected);
      for (const r of refused) {
        assert.equal(r.headers["retry-after"], "5");
        assert.equal(r.body, "Service busy, try again later");
      }
    });
  });
});

describe("limits per compile", () => {
  // Each lowered limit stops a large body and lets the typical one pass.
  // (The CPU-time limit, which ends only the work done before an answer
  // starts to leave, is held to that by the cgi tests, with a program that
  // spends CPU time on purpose: no compile is slow enough to show it here.)
  const cases = [
    {
      name: "address space",
      env: { QUERN_MEMORY_MIB: "3" },
      body: DEEP,
      log: /^internal failure: out of memory$/m,
    },
  ];
  for (const c of cases) {
    test(`a compile beyond a lowered ${c.name} limit is stopped and logged; the next request is answered`, { timeout: 60_000 }, async () => {
      await withServer(c.env, async (server) => {
        const errorLog = path.join(server.runDir, "log/error.log");
        const accessLog = path.join(server.runDir, "log/access.log");
        const size = (file) => statSync(file, { throwIfNoEntry: false })?.size ?? 0;
        const [errorStart, accessStart] = [size(errorLog), size(accessLog)];
        // The kernel charges CPU time a tick at a time, so now and then a
        // compile ends before it has been charged a millisecond: such a one
        // must have been answered exactly, and the body is sent again.
        const expected = directAnswer(c.body);
        let stopped = await compile(server.base, c.body);
        for (let attempt = 1; stopped.status === 200 && attempt < 10; attempt++) {
          assert.equal(stopped.body, expected);
          stopped = await compile(server.base, c.body);
        }
        assert.equal(stopped.status, 500);
        const errors = await waitForLine(errorLog, errorStart, c.log);
        assert.match(errors, c.log);
        const next = await compile(server.base, SUM_SOURCE);
        assert.equal(next.status, 200);
        assert.equal(next.body, SUM_ASM);
        // Both requests in the access log, in the combined format.
        const access = await waitForLine(accessLog, accessStart, /" 500 \d+ "-" "-"\n[^\n]*" 200 \d+ "-" "-"$/m);
        const combined = /^127\.0\.0\.1 - - \[[^\]]+\] "POST \/compile HTTP\/1\.1" (\d{3}) \d+ "-" "-"$/gm;
        assert.deepEqual([...access.matchAll(combined)].map((m) => m[1]).slice(-2), ["500", "200"]);
      });
    });
  }
});

test("at any CPU time limit the answer is a 500 before the header's end, or the whole 200", () => {
  // Limits about the compile's own CPU time may strike before its answer
  // starts to leave, as the kernel's ticks fall, or not at all: the one
  // ends in a 500 with nothing after it, the other must be printed whole.
  const body = spillingChain();
  const whole = `Content-Type: text/plain\nStatus: 200 OK\r\n\r\n${directAnswer(body)}`;
  const failed = "Content-Type: text/plain\nStatus: 500 Internal Server Error\r\n\r\n";
  for (const ms of Array(4).fill([1, 2, 3, 4, 5, 6, 8, 12, 16, 24, 32]).flat()) {
    const r = runCgi(body, { QUERN_CPU_MS: String(ms) });
    const out = r.stdout.toString("utf8");
    const status = out === failed ? 500 : out === whole ? 200 : `${out.length} of ${whole.length} characters`;
    assert.ok(status === 500 || status === 200, `${ms} ms: ${status}`);
    assert.equal(r.status, status === 500 ? 101 : 0, `${ms} ms: ${status}`);
  }
});

test("the systemd unit written for the server passes systemd-analyze verify", { timeout: 60_000 }, async () => {
  await withServer({}, async (server) => {
    const unit = path.join(server.runDir, "quern.service");
    const text = readFileSync(unit, "utf8");
    for (const directive of ["NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes", "MemoryMax=", "TasksMax=", "RestrictAddressFamilies="]) {
      assert.ok(text.includes(`\n${directive}`), directive);
    }
    assert.match(text, new RegExp(`^ExecStart=\\S*lighttpd -D -f ${server.runDir}/lighttpd\\.conf$`, "m"));
    const r = spawnSync("systemd-analyze", ["verify", unit], { encoding: "utf8" });
    assert.equal(r.status, 0, r.stdout + r.stderr);
    assert.equal(r.stderr.trim(), "");
  });
});
