// The service through HTTP: lighttpd with the repository's configuration,
// running the cgi for POST /compile and serving the playground at /.
import assert from "node:assert/strict";
import http from "node:http";
import { after, before, describe, test } from "node:test";
import { COMPILE_CASES, SUM_ASM, SUM_SOURCE, paddedSum } from "./cases.mjs";
import { CONTENT_TYPE, compile, request, startServer } from "./server.mjs";

let server;
before(async () => {
  server = await startServer();
});
after(async () => {
  await server?.stop();
});

describe("compile answers", () => {
  for (const c of COMPILE_CASES) {
    test(`${c.name} gives ${c.status} with the exact body`, async () => {
      const res = await compile(server.base, c.source);
      assert.equal(res.status, c.status);
      assert.equal(res.headers["content-type"], "text/plain");
      assert.equal(res.body, c.body);
    });
  }

  test("a chunked request body reaches the compiler whole", async () => {
    const res = await compile(server.base, SUM_SOURCE, { chunked: true });
    assert.equal(res.status, 200);
    assert.equal(res.body, SUM_ASM);
  });
});

describe("header refusals", () => {
  // Refusals carry no Content-Type, and the body is the bare message.
  const cases = [
    { name: "no Content-Type", headers: {}, body: "Content-Type must be specified" },
    { name: "no space before charset", headers: { "Content-Type": "text/plain;charset=UTF-8" }, body: "Content-Type must be text/plain, UTF-8" },
    { name: "lower-case charset", headers: { "Content-Type": "text/plain; charset=utf-8" }, body: "Content-Type must be text/plain, UTF-8" },
    { name: "no charset", headers: { "Content-Type": "text/plain" }, body: "Content-Type must be text/plain, UTF-8" },
    { name: "JSON", headers: { "Content-Type": "application/json" }, body: "Content-Type must be text/plain, UTF-8" },
  ];
  for (const c of cases) {
    test(`${c.name} is refused with 400`, async () => {
      const res = await request(server.base, {
        headers: c.headers,
        body: SUM_SOURCE,
      });
      assert.equal(res.status, 400);
      assert.equal(res.headers["content-type"], undefined);
      assert.equal(res.body, c.body);
    });
  }
});

describe("explain answers", () => {
  for (const c of COMPILE_CASES) {
    test(`${c.name}: the answer is /compile's, with its lines`, async () => {
      const res = await compile(server.base, c.source, { path: "/explain" });
      assert.equal(res.status, 200);
      assert.equal(res.headers["content-type"], "application/json");
      const json = JSON.parse(res.body);
      assert.equal(json.ok, c.status === 200);
      assert.equal(json.answer, c.body);
      assert.equal(json.diagnostics.length === 0, json.ok);
      if (json.ok) {
        assert.equal(json.lines.map((l) => l.text + "\n").join(""), c.body);
        const code = json.lines.slice(0, json.lines.findIndex((l) => l.text === "    halt") + 1);
        assert.ok(code.every((l) => Number.isInteger(l.source) && l.source >= 1), res.body);
        assert.ok(json.unoptimised.length >= json.lines.length);
      }
    });
  }

  test("refused headers get 400 and /compile's reason", async () => {
    for (const headers of [{}, { "Content-Type": "text/plain" }]) {
      const refused = await request(server.base, { headers, body: SUM_SOURCE });
      const res = await request(server.base, { path: "/explain", headers, body: SUM_SOURCE });
      assert.equal(res.status, 400);
      assert.equal(res.headers["content-type"], "application/json");
      assert.deepEqual(JSON.parse(res.body), { error: refused.body });
    }
  });
});

test("methods other than POST get 405 with Allow: POST on /compile and /explain", async () => {
  for (const p of ["/compile", "/explain"]) {
    for (const method of ["GET", "HEAD", "PUT", "DELETE", "OPTIONS"]) {
      const res = await request(server.base, {
        method,
        path: p,
        headers: { "Content-Type": CONTENT_TYPE },
        body: method === "PUT" ? SUM_SOURCE : undefined,
      });
      assert.equal(res.status, 405, `${method} ${p}`);
      assert.equal(res.headers.allow, "POST", `${method} ${p}`);
      assert.equal(res.body, method === "HEAD" ? "" : "Only POST is allowed", `${method} ${p}`);
    }
  }
});

describe("body size limit", () => {
  test("a 65535-byte body is compiled", async () => {
    const res = await compile(server.base, paddedSum(65535));
    assert.equal(res.status, 200);
    assert.equal(res.body, SUM_ASM);
  });

  test("a 65536-byte body reaches the cgi and is refused", async () => {
    const res = await compile(server.base, paddedSum(65536));
    assert.equal(res.status, 400);
    assert.equal(res.body, "Content-Length too large");
  });

  test("a body far beyond the limit is cut off by the web server", async () => {
    const res = await compile(server.base, paddedSum(1 << 20));
    assert.equal(res.status, 413);
  });
});

describe("playground files", () => {
  const files = [
    { path: "/", type: "text/html; charset=utf-8", contains: 'id="editor"' },
    { path: "/dist/playground.js", type: "text/javascript; charset=utf-8", contains: "quernPlayground" },
    { path: "/playground.css", type: "text/css; charset=utf-8", contains: ".diagnostics" },
  ];
  for (const f of files) {
    test(`GET ${f.path} serves ${f.type}`, async () => {
      const res = await request(server.base, { method: "GET", path: f.path });
      assert.equal(res.status, 200);
      assert.equal(res.headers["content-type"], f.type);
      assert.ok(res.body.includes(f.contains), `${f.path} lacks ${f.contains}`);
    });
  }

  test("files outside the page's folder are not served", async () => {
    for (const p of ["/lighttpd.conf.in", "/../lighttpd.conf.in", "/%2e%2e/lighttpd.conf.in", "/../../web/lighttpd.conf.in"]) {
      const res = await request(server.base, { method: "GET", path: p });
      assert.equal(res.status, 404, p);
    }
  });
});

test("500 requests from 8 concurrent clients are all answered exactly", { timeout: 180_000 }, async () => {
  const TOTAL = 500;
  const CLIENTS = 8;
  const agent = new http.Agent({ keepAlive: true, maxSockets: CLIENTS });
  const failures = [];
  let next = 0;
  let answered = 0;
  async function client() {
    while (next < TOTAL) {
      const i = next++;
      const c = COMPILE_CASES[i % COMPILE_CASES.length];
      try {
        const res = await compile(server.base, c.source, { agent });
        if (res.status !== c.status || res.body !== c.body) {
          failures.push(`#${i} ${c.name}: ${res.status} ${JSON.stringify(res.body.slice(0, 80))}`);
        }
        answered++;
      } catch (err) {
        failures.push(`#${i} ${c.name}: ${err.message}`);
      }
    }
  }
  try {
    await Promise.all(Array.from({ length: CLIENTS }, client));
  } finally {
    agent.destroy();
  }
  assert.deepEqual(failures.slice(0, 10), []);
  assert.equal(answered, TOTAL);
});
