// A plain static file server on a free loopback port, as any web host
// serves a folder: GET and HEAD of the files under one directory, with their
// media types, and nothing else (no CGI, no policy headers). Every request
// is kept in `requests` ("METHOD /path").
import { createReadStream } from "node:fs";
import { stat } from "node:fs/promises";
import http from "node:http";
import path from "node:path";

const TYPES = {
  ".html": "text/html; charset=utf-8",
  ".css": "text/css; charset=utf-8",
  ".js": "text/javascript; charset=utf-8",
  ".mjs": "text/javascript; charset=utf-8",
  ".wasm": "application/wasm",
  ".png": "image/png",
  ".svg": "image/svg+xml",
  ".webmanifest": "application/manifest+json",
};

export async function serveStatic(dir) {
  const root = path.resolve(dir);
  const requests = [];
  const server = http.createServer(async (req, res) => {
    const { pathname } = new URL(req.url, "http://localhost");
    requests.push(`${req.method} ${pathname}`);
    let file = path.join(root, decodeURIComponent(pathname));
    try {
      if (!file.startsWith(root + path.sep) && file !== root) throw new Error("outside");
      if (req.method !== "GET" && req.method !== "HEAD") throw new Error("method");
      if ((await stat(file)).isDirectory()) file = path.join(file, "index.html");
      const { size } = await stat(file);
      res.writeHead(200, { "Content-Type": TYPES[path.extname(file)] ?? "application/octet-stream", "Content-Length": size });
      if (req.method === "HEAD") res.end();
      else createReadStream(file).pipe(res);
    } catch {
      res.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const base = `http://127.0.0.1:${server.address().port}`;
  return { base, requests, stop: () => new Promise((resolve) => server.close(resolve)) };
}
