// The WebAssembly module's entry points, which quern.mjs calls: the explain
// answer for a source, as the JSON object that POST /explain answers.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <string>

#include "explain.h"
#include "quern_limits.h"

namespace {

// Where the last answer stays until the next call.
std::string g_answer;

}  // namespace

extern "C" {

/// Explains the source of size bytes at body and returns the JSON object,
/// whose length quern_answer_size() gives. A source over the size limit
/// gets {"error": ...}, as the service refuses it.
EMSCRIPTEN_KEEPALIVE const char* quern_explain(const char* body, std::size_t size) {
  // The room of a large answer (up to megabytes) is given back before the
  // next one is written.
  g_answer = std::string();
  if (size > quern::kMaxBodyBytes) {
    g_answer = quern::refusal_json("Content-Length too large");
  } else {
    g_answer = quern::explanation_json(quern::explain(std::string_view(body, size)));
  }
  return g_answer.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t quern_answer_size() {
  return g_answer.size();
}

/// The largest source quern_explain compiles, in bytes.
EMSCRIPTEN_KEEPALIVE std::size_t quern_max_body_bytes() {
  return quern::kMaxBodyBytes;
}

}  // extern "C"
