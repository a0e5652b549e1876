// Test helpers: a lighttpd of the tests' own (started through scripts/serve.sh
// on a free loopback port) unless QUERN_URL names a running one, and a raw
// HTTP client that sends exactly the headers a test gives it.
import { spawn } from "node:child_process";
import { rm } from "node:fs/promises";
import http from "node:http";
import net from "node:net";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const BUILD_DIR = path.resolve(process.env.BUILD_DIR || path.join(ROOT, "build"));
export const CONTENT_TYPE = "text/plain; charset=UTF-8";

const START_TIMEOUT_MS = 300_000; // serve.sh may have to build the cgi first

function freePort() {
  return new Promise((resolve, reject) => {
    const srv = net.createServer();
    srv.on("error", reject);
    srv.listen(0, "127.0.0.1", () => {
      const { port } = srv.address();
      srv.close(() => resolve(port));
    });
  });
}

function canConnect(port) {
  return new Promise((resolve) => {
    const sock = net.connect({ host: "127.0.0.1", port });
    sock.once("connect", () => {
      sock.destroy();
      resolve(true);
    });
    sock.once("error", () => resolve(false));
  });
}

// Resolves to { base, stop, group, runDir }: group is the process group of
// the server's processes, runDir where serve.sh put its files and logs.
// stop() is safe to call more than once; the server is also killed if the
// test process exits without calling it. With env (settings for serve.sh),
// a server of the test's own is started even when QUERN_URL names one.
// Chromium as the browser tests run it, with one page whose console errors
// and uncaught exceptions are collected in `problems`.
export async function openWatchedPage(viewport = { width: 1280, height: 720 }) {
  const { chromium } = await import("playwright-core");
  const browser = await chromium.launch({ executablePath: process.env.CHROMIUM || "/usr/bin/chromium", args: ["--no-sandbox", "--disable-gpu"] });
  const page = await browser.newPage({ viewport });
  const problems = [];
  page.on("console", (msg) => msg.type() === "error" && problems.push(`console: ${msg.text()}`));
  page.on("pageerror", (err) => problems.push(`page error: ${err.message}`));
  return { browser, page, problems };
}

export async function startServer({ env } = {}) {
  if (process.env.QUERN_URL && !env) {
    return { base: process.env.QUERN_URL.replace(/\/$/, ""), stop: async () => {} };
  }
  const port = await freePort();
  // The site that the suites test, built already, rather than one built anew.
  const site = process.env.QUERN_SITE ? { SITE_DIR: process.env.QUERN_SITE } : {};
  const child = spawn("bash", [path.join(ROOT, "scripts/serve.sh"), String(port)], {
    env: { ...process.env, BUILD_DIR, PORT: String(port), ...site, ...env },
    stdio: ["ignore", "pipe", "pipe"],
    detached: true, // own process group, so a build still running is stopped too
  });
  let log = "";
  child.stdout.on("data", (d) => (log += d));
  child.stderr.on("data", (d) => (log += d));
  let exited = false;
  const exitPromise = new Promise((resolve) =>
    child.once("exit", () => {
      exited = true;
      resolve();
    }),
  );
  const signal = (sig) => {
    try {
      process.kill(-child.pid, sig);
    } catch {
      // already gone
    }
  };
  const killOnExit = () => signal("SIGKILL");
  process.once("exit", killOnExit);

  const stop = async () => {
    process.removeListener("exit", killOnExit);
    if (!exited) {
      signal("SIGTERM");
      const timer = setTimeout(() => signal("SIGKILL"), 5000);
      await exitPromise;
      clearTimeout(timer);
    }
  };

  const deadline = Date.now() + START_TIMEOUT_MS;
  // Listening, and the run directory announced before lighttpd started.
  while (!/^run directory: /m.test(log) || !(await canConnect(port))) {
    if (exited || Date.now() > deadline) {
      await stop();
      throw new Error(`lighttpd did not start on port ${port}:\n${log}`);
    }
    await new Promise((r) => setTimeout(r, 100));
  }
  const runDir = /^run directory: (\S+)/m.exec(log)?.[1];
  // A server with settings of a test's own leaves nothing behind.
  const stopAndClean = async () => {
    await stop();
    if (env && runDir) await rm(runDir, { recursive: true, force: true });
  };
  return { base: `http://127.0.0.1:${port}`, stop: env ? stopAndClean : stop, group: child.pid, runDir };
}

// Sends one request and collects the whole answer. `body` is a string or a
// Buffer; `headers` are sent as given (no Content-Type is added). With
// `chunked` the body goes out with Transfer-Encoding: chunked.
export function request(base, { method = "POST", path: p = "/compile", headers = {}, body, chunked = false, agent, timeoutMs = 20_000 } = {}) {
  return new Promise((resolve, reject) => {
    const url = new URL(p, base);
    const data = body === undefined ? undefined : Buffer.isBuffer(body) ? body : Buffer.from(body, "utf8");
    const h = { ...headers };
    if (data !== undefined && !chunked) h["Content-Length"] = String(data.length);
    if (chunked) h["Transfer-Encoding"] = "chunked";
    const req = http.request(
      { host: url.hostname, port: url.port, path: p, method, headers: h, agent: agent ?? false },
      (res) => {
        const chunks = [];
        res.on("data", (c) => chunks.push(c));
        res.on("end", () =>
          resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks).toString("utf8") }),
        );
        res.on("error", reject);
      },
    );
    req.setTimeout(timeoutMs, () => req.destroy(new Error(`no answer within ${timeoutMs} ms`)));
    req.on("error", reject);
    if (chunked && data !== undefined) {
      // Two chunks, so the server really has to reassemble the body.
      const half = Math.floor(data.length / 2);
      req.write(data.subarray(0, half));
      req.end(data.subarray(half));
    } else {
      req.end(data);
    }
  });
}

export const compile = (base, source, extra = {}) =>
  request(base, { headers: { "Content-Type": CONTENT_TYPE }, body: source, ...extra });
