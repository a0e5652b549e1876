// The WebAssembly module's entry points, which quern.mjs calls: one /explain
// request per call, with the body's bytes as the request body, answered with
// exactly the bytes the explain program writes.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <string>

#include "explain_request.h"

namespace {

// Where the last answer stays until the next call.
class AnswerOutput : public quern::Output {
 public:
  explicit AnswerOutput(std::string& text) : text_(text) {}
  bool write(std::string_view text) override {
    text_.append(text);
    return true;
  }

 private:
  std::string& text_;
};

std::string g_answer;

}  // namespace

extern "C" {

/// Answers the request that POST /explain gets for size bytes at body (the
/// headers a browser sends for it: text/plain, UTF-8, and the body's
/// length). Returns the answer, headers included; quern_answer_size() gives
/// its length.
EMSCRIPTEN_KEEPALIVE const char* quern_explain(const char* body, std::size_t size) {
  const std::string length = std::to_string(size);
  const quern::cgi::Environment environment = [&](const char* name) -> const char* {
    if (std::string_view(name) == "CONTENT_TYPE") return "text/plain; charset=UTF-8";
    if (std::string_view(name) == "CONTENT_LENGTH") return length.c_str();
    return nullptr;
  };
  quern::cgi::StringInput input(std::string_view(body, size));
  // The room of a large answer (up to megabytes) is given back before the
  // next one is written.
  if (g_answer.capacity() > (std::size_t{1} << 20)) g_answer = std::string();
  g_answer.clear();
  AnswerOutput output(g_answer);
  quern::cgi::handle_explain(environment, input, output);
  return g_answer.data();
}

EMSCRIPTEN_KEEPALIVE std::size_t quern_answer_size() {
  return g_answer.size();
}

}  // extern "C"
