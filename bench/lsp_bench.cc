// The language server's answer to a change of a 64 KiB document: the
// didChange message handled whole (the document explained again, the
// diagnostics written as a framed message), then the semantic tokens an
// editor asks for next. Each shape of tools/shapes.h is measured at the
// largest body the service compiles, and one more that an editor makes
// harder: astral and Devanagari names on CR LF lines. The target is 50 ms
// per change on the machine the project runs on.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "lsp.h"
#include "shapes.h"

namespace {

using Json = nlohmann::json;

std::string wide_names(std::size_t budget) {
  return quern::shapes::repeated("int f(int 𝑥, int कि) {\r\n", "  𝑥 = 𝑥 + कि - 1;\r\n", "}\r\n",
                                 budget);
}

constexpr const char* kUri = "file:///bench.c";

// A server with the document open, fed one change per iteration.
void change(benchmark::State& state, const std::string& text, bool with_tokens) {
  std::ostringstream out;
  quern::lsp::Server server(out);
  server.handle(Json{{"jsonrpc", "2.0"},
                     {"id", 1},
                     {"method", "initialize"},
                     {"params", {{"capabilities", Json::object()}}}}
                    .dump());
  server.handle(Json{
      {"jsonrpc", "2.0"},
      {"method", "textDocument/didOpen"},
      {"params",
       {{"textDocument", {{"uri", kUri}, {"languageId", "c"}, {"version", 1}, {"text", text}}}}}}
                    .dump());
  const std::string tokens = Json{{"jsonrpc", "2.0"},
                                  {"id", 2},
                                  {"method", "textDocument/semanticTokens/full"},
                                  {"params", {{"textDocument", {{"uri", kUri}}}}}}
                                 .dump();
  int version = 1;
  std::size_t written = 0;
  for (auto _ : state) {
    out.str("");
    // Each change is a new message, as an editor sends it (its parse is part
    // of the answer).
    server.handle(Json{{"jsonrpc", "2.0"},
                       {"method", "textDocument/didChange"},
                       {"params",
                        {{"textDocument", {{"uri", kUri}, {"version", ++version}}},
                         {"contentChanges", {{{"text", text}}}}}}}
                      .dump());
    if (with_tokens) server.handle(tokens);
    written = out.str().size();
    if (written == 0) state.SkipWithError("no answer");
  }
  state.counters["answer_bytes"] = static_cast<double>(written);
  state.counters["source_bytes"] = static_cast<double>(text.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<quern::shapes::Shape> shapes = quern::shapes::all();
  shapes.push_back({"wide_names_crlf", wide_names});
  for (const quern::shapes::Shape& shape : shapes) {
    const std::string text = shape.make(quern::shapes::kMaxBody);
    benchmark::RegisterBenchmark((std::string("didChange/") + shape.name).c_str(),
                                 [text](benchmark::State& s) { change(s, text, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("didChange+tokens/") + shape.name).c_str(),
                                 [text](benchmark::State& s) { change(s, text, true); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
