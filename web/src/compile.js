// The compile client: the one way the page gets the /explain object for a
// source, whoever computes it.
const CONTENT_TYPE = "text/plain; charset=UTF-8"; // the only header value the service accepts
const TIMEOUT_MS = 30000;

// Compiles the UTF-8 bytes of a source. Resolves to one of:
//   { kind: "answer", json, ms }              the /explain object and how long it took
//   { kind: "refused", status, error }        an answer that is not a compile result
//                                             (`error`: the service's reason, or null)
//   { kind: "unreachable", message }          no answer at all
export async function explain(body) {
  const url = new URL("explain", document.baseURI).href;
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
    let json = null;
    try {
      json = JSON.parse(answer);
    } catch {
      json = null;
    }
    if (response.status === 200 && json && typeof json.ok === "boolean") return { kind: "answer", json, ms };
    const status = `${response.status} ${response.statusText}`.trim();
    return { kind: "refused", status, error: typeof json?.error === "string" ? json.error : null };
  } catch (err) {
    return {
      kind: "unreachable",
      message:
        err?.name === "AbortError"
          ? `The server did not answer within ${TIMEOUT_MS / 1000} seconds (${url}).`
          : `Cannot reach the compile service at ${url}. Is the server running ` +
            `(scripts/serve.sh)? Check it and compile again.`,
    };
  } finally {
    clearTimeout(timer);
  }
}
