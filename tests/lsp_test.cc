// The language server driven through its message stream: a table of
// exchanges, each a list of messages in and what must come out; and, over
// generated programs with astral and Devanagari names and every kind of
// line end, diagnostics that stand where the compile's findings do.
#include "lsp.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "explain.h"

namespace quern {
namespace {

using Json = nlohmann::json;

std::string frame(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

struct Outcome {
  int status;
  std::vector<Json> messages;
};

// Serves input whole; every output message must be a well-framed JSON-RPC
// object.
Outcome run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  Outcome outcome{lsp::serve(in, out), {}};
  std::istringstream written(out.str());
  lsp::MessageReader reader(written);
  for (;;) {
    auto next = reader.next();
    if (std::holds_alternative<lsp::MessageReader::End>(next)) break;
    const auto* body = std::get_if<lsp::MessageReader::Body>(&next);
    if (body == nullptr) {
      ADD_FAILURE() << "a malformed frame on the output: " << out.str();
      break;
    }
    outcome.messages.push_back(Json::parse(body->text));
    EXPECT_EQ(outcome.messages.back().value("jsonrpc", ""), "2.0");
  }
  return outcome;
}

// Whether actual has every member of pattern, recursively; arrays match
// element by element and must be as long.
bool matches(const Json& actual, const Json& pattern) {
  if (pattern.is_object()) {
    if (!actual.is_object()) return false;
    for (const auto& [key, value] : pattern.items()) {
      if (!actual.contains(key) || !matches(actual[key], value)) return false;
    }
    return true;
  }
  if (pattern.is_array()) {
    if (!actual.is_array() || actual.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      if (!matches(actual[i], pattern[i])) return false;
    }
    return true;
  }
  return actual == pattern;
}

Json request(int id, const std::string& method, Json params) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}};
}
Json notification(const std::string& method, Json params = Json::object()) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}
Json initialize(Json capabilities = Json::object()) {
  return request(1, "initialize", {{"capabilities", std::move(capabilities)}});
}
constexpr const char* kUri = "file:///c/%E0%A4%95.c";
Json open(const std::string& text, int version = 1) {
  return notification(
      "textDocument/didOpen",
      {{"textDocument",
        {{"uri", kUri}, {"languageId", "c"}, {"version", version}, {"text", text}}}});
}
Json at(int line, int character) {
  return {{"textDocument", {{"uri", kUri}}},
          {"position", {{"line", line}, {"character", character}}}};
}
Json range(int line, int from, int to) {
  return {{"start", {{"line", line}, {"character", from}}},
          {"end", {{"line", line}, {"character", to}}}};
}
Json published(int version, Json diagnostics) {
  return {
      {"method", "textDocument/publishDiagnostics"},
      {"params", {{"uri", kUri}, {"version", version}, {"diagnostics", std::move(diagnostics)}}}};
}
const Json kInitialized = {{"id", 1},
                           {"result", {{"capabilities", {{"positionEncoding", "utf-16"}}}}}};

// Two findings on CR LF lines after an astral and a Devanagari name: 𝑥 takes
// two UTF-16 units, कि two.
const std::string kTwoFindings =
    "int f(int 𝑥, int कि) {\r\n  int 𝑥 = 1;\r\n  return कि + y;\r\n}\r\nleft over";

TEST(Lsp, Exchanges) {
  struct Case {
    const char* name;
    std::vector<Json> in;  // a string is sent as it is; anything else is framed
    std::vector<Json> out;
    int status;
  };
  const Json shutdown = request(9, "shutdown", nullptr);
  const Json exit = notification("exit");
  const Case cases[] = {
      {"shutdown and exit end with 0; an unknown request gets MethodNotFound",
       {initialize(), request(2, "quern/nothing", {}), shutdown, exit},
       {kInitialized, {{"id", 2}, {"error", {{"code", -32601}}}}, {{"id", 9}, {"result", nullptr}}},
       0},
      {"exit without shutdown ends with 1", {initialize(), exit}, {kInitialized}, 1},
      {"a body that is not JSON gets a parse error, and the server goes on",
       {frame("{\"id\": 1,"), initialize(), shutdown, exit},
       {{{"id", nullptr}, {"error", {{"code", -32700}}}}, kInitialized, {{"id", 9}}},
       0},
      {"a frame without Content-Length, or with a bad one, gets a parse error",
       {"Content-Type: x\r\n\r\n", "content-length: 1x\r\n\r\n", initialize(), shutdown, exit},
       {{{"error", {{"code", -32700}}}},
        {{"error", {{"code", -32700}}}},
        kInitialized,
        {{"id", 9}}},
       0},
      {"a request before initialize is refused; requests after shutdown too",
       {request(2, "textDocument/hover", at(0, 0)), initialize(), shutdown,
        request(3, "textDocument/hover", at(0, 0)), exit},
       {{{"id", 2}, {"error", {{"code", -32002}}}},
        kInitialized,
        {{"id", 9}},
        {{"id", 3}, {"error", {{"code", -32600}}}}},
       0},
      {"params of the wrong shape get InvalidParams",
       {initialize(), request(2, "textDocument/hover", {{"textDocument", 3}}),
        request(3, "textDocument/hover", at(0, 0))},
       {kInitialized,
        {{"id", 2}, {"error", {{"code", -32602}}}},
        {{"id", 3}, {"error", {{"code", -32602}}}}},
       1},
      {"findings at their places in UTF-16 units, a redeclaration pointing at the first, the "
       "text after the brace tagged unnecessary",
       {initialize(), open(kTwoFindings, 7)},
       {kInitialized,
        published(7, {{{"range", range(1, 6, 8)},
                       {"severity", 1},
                       {"code", "redeclaration"},
                       {"source", "quern"},
                       {"relatedInformation",
                        {{{"location", {{"uri", kUri}, {"range", range(0, 10, 12)}}}}}}},
                      {{"range", range(2, 14, 15)}, {"code", "read-undeclared"}},
                      {{"range",
                        {{"start", {{"line", 4}, {"character", 0}}},
                         {"end", {{"line", 4}, {"character", 9}}}}},
                       {"code", "ignored"},
                       {"tags", {1}},
                       {"message",
                        "Text after the function's closing brace is not compiled (from line 5, "
                        "column 1)."}}})},
       1},
      {"UTF-8 columns when the client offers them",
       {initialize({{"general", {{"positionEncodings", {"utf-16", "utf-8"}}}}}),
        open(kTwoFindings, 2)},
       {{{"result", {{"capabilities", {{"positionEncoding", "utf-8"}}}}}},
        published(2,
                  {{{"range", range(1, 6, 10)}}, {{"range", range(2, 18, 19)}}, Json::object()})},
       1},
      {"a change answered with its version: a document that compiles has no findings; a closed "
       "one is cleared",
       {initialize(), open("int f() { return y; }", 1),
        notification("textDocument/didChange",
                     {{"textDocument", {{"uri", kUri}, {"version", 2}}},
                      {"contentChanges", {{{"text", "int f() { return 1; }"}}}}}),
        notification("textDocument/didClose", {{"textDocument", {{"uri", kUri}}}})},
       {kInitialized,
        published(1, {{{"code", "read-undeclared"}}}),
        published(2, Json::array()),
        {{"params", {{"uri", kUri}, {"diagnostics", Json::array()}}}}},
       1},
      {"hover on a parameter, a variable and a keyword; a jump to the declaration",
       {initialize(), open(kTwoFindings), request(2, "textDocument/hover", at(2, 10)),
        request(3, "textDocument/hover", at(1, 7)), request(4, "textDocument/hover", at(2, 3)),
        request(5, "textDocument/definition", at(2, 9))},
       {kInitialized,
        {{"method", "textDocument/publishDiagnostics"}},
        {{"id", 2},
         {"result",
          {{"contents",
            {{"value",
              "`कि`: parameter, declared on line 1; starts at the value the run gives it (0 when "
              "none is given)"}}},
           {"range", range(2, 9, 11)}}}},
        {{"id", 3},
         {"result",
          {{"contents",
            {{"value",
              "`𝑥`: parameter, declared on line 1; starts at the value the run gives it (0 when "
              "none is given)"}}}}}},
        {{"id", 4},
         {"result",
          {{"contents",
            {{"value",
              "`return`: `return e;` stores `e` as the function's result and goes on with the "
              "next statement"}}}}}},
        {{"id", 5}, {"result", {{"uri", kUri}, {"range", range(0, 18, 20)}}}}},
       1},
      {"references, highlights and symbols of a name",
       {initialize(), open("int f(int a) {\n  int b = 4;\n  b = a + b;\n  return b;\n}\n"),
        request(2, "textDocument/references",
                {{"textDocument", {{"uri", kUri}}},
                 {"position", {{"line", 2}, {"character", 2}}},
                 {"context", {{"includeDeclaration", false}}}}),
        request(3, "textDocument/documentHighlight", at(1, 6)),
        request(4, "textDocument/documentSymbol", {{"textDocument", {{"uri", kUri}}}})},
       {kInitialized,
        published(1, Json::array()),
        {{"id", 2},
         {"result",
          {{{"range", range(2, 2, 3)}},
           {{"range", range(2, 10, 11)}},
           {{"range", range(3, 9, 10)}}}}},
        {{"id", 3},
         {"result",
          {{{"range", range(1, 6, 7)}, {"kind", 3}},
           {{"range", range(2, 2, 3)}, {"kind", 3}},
           {{"range", range(2, 10, 11)}, {"kind", 2}},
           {{"range", range(3, 9, 10)}, {"kind", 2}}}}},
        {{"id", 4},
         {"result",
          {{{"name", "f"},
            {"kind", 12},
            {"range",
             {{"start", {{"line", 0}, {"character", 0}}},
              {"end", {{"line", 4}, {"character", 1}}}}},
            {"children",
             {{{"name", "a"}, {"detail", "parameter"}}, {{"name", "b"}, {"detail", "= 4"}}}}}}}}},
       1},
      {"semantic tokens by the answer's kinds and the names' declarations",
       {initialize(), open("int f(int 𝑥) {\r\n  return 𝑥 + 1;\r\n}"),
        request(2, "textDocument/semanticTokens/full", {{"textDocument", {{"uri", kUri}}}})},
       {kInitialized,
        {{"method", "textDocument/publishDiagnostics"}},
        {{"id", 2},
         {"result", {{"data", {0, 0, 3, 0, 0, 0, 4, 1, 3, 0, 0, 1, 1, 2, 0, 0, 1, 3, 0, 0, 0, 4,
                               2, 4, 1, 0, 2, 1, 2, 0, 0, 2, 1, 2, 0, 1, 2, 6, 0, 0, 0, 7, 2, 4,
                               0, 0, 3, 1, 2, 0, 0, 2, 1, 1, 0, 0, 1, 1, 2, 0, 1, 0, 1, 2, 0}}}}}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string input;
    for (const Json& m : c.in) input += m.is_string() ? m.get<std::string>() : frame(m.dump());
    const Outcome outcome = run(input);
    EXPECT_EQ(outcome.status, c.status);
    ASSERT_EQ(outcome.messages.size(), c.out.size());
    for (std::size_t i = 0; i < c.out.size(); ++i) {
      EXPECT_TRUE(matches(outcome.messages[i], c.out[i]))
          << "message " << i << ": " << outcome.messages[i].dump() << "\nexpected at least "
          << c.out[i].dump();
    }
  }
}

// The assembly command hands over the explain answer's listing lines with
// every member they have there, and the editor line of each source line.
TEST(Lsp, ShowAssemblyPassesTheListingThrough) {
  const std::string source = "int f(int a) {\r  a = a + 1;\r\n  return a;\n}\n";
  const Outcome outcome =
      run(frame(initialize().dump()) + frame(open(source).dump()) +
          frame(request(2, "workspace/executeCommand",
                        {{"command", "quern.showAssembly"}, {"arguments", {kUri}}})
                    .dump()));
  ASSERT_EQ(outcome.messages.size(), 3u);
  const Json& answer = outcome.messages[2].at("result");
  EXPECT_TRUE(matches(answer, {{"ok", true}, {"version", 1}}));
  const Explanation explanation = explain(source);
  const Json lines = Json::parse(explanation_json(explanation)).at("lines");
  ASSERT_EQ(answer.at("lines").size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Json& line = answer["lines"][i];
    EXPECT_TRUE(matches(line, lines[i])) << line.dump();
    // The compiler's line 1 holds a lone CR: its line 2 is the editor's 2.
    const Json& from = lines[i]["source"];
    const Json expected = from.is_null() ? Json() : Json(from == 1 ? 0 : from.get<int>());
    EXPECT_EQ(line.at("editorLine"), expected) << line.dump();
  }
}

// The editor's place of a compiler position, counted here independently:
// the compiler's lines end at LF and its columns count characters; the
// editor's lines end at LF, CR LF or CR and its columns count UTF-16 units.
Json editor_place(const std::string& text, SourcePosition p) {
  std::size_t i = 0;
  for (int line = 1; line < p.line; ++line) i = text.find('\n', i) + 1;
  for (int column = 1; column < p.column; ++column) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  int line = 0;
  int units = 0;
  for (std::size_t k = 0; k < i; ++k) {
    const auto b = static_cast<unsigned char>(text[k]);
    if (b == '\n' || (b == '\r' && (k + 1 >= text.size() || text[k + 1] != '\n'))) {
      ++line, units = 0;
    } else if (b != '\r' && (b & 0xC0) != 0x80) {
      units += b >= 0xF0 ? 2 : 1;
    }
  }
  return {{"line", line}, {"character", units}};
}

// Programs whose names are astral or Devanagari, whose lines end in LF, CR
// LF or CR at random, and which hold undeclared names, redeclarations and
// now and then a syntax error.
TEST(Lsp, DiagnosticsStandWhereTheFindingsDo) {
  std::mt19937 random(33);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  const char* names[] = {"𝑥", "कि", "a", "𝑦𝑧", "किम", "b𝑥"};
  const char* breaks[] = {"\n", "\r\n", "\r", " "};
  int findings = 0;
  for (int round = 0; round < 200; ++round) {
    std::string text = "int f(int " + std::string(names[pick(6)]) + ")" + breaks[pick(4)] + "{";
    for (std::size_t d = pick(3); d > 0; --d) {
      text += breaks[pick(4)] + std::string("int ") + names[pick(6)] + " = " +
              std::to_string(pick(100)) + ";";
    }
    for (std::size_t s = 1 + pick(4); s > 0; --s) {
      text += breaks[pick(4)] + std::string(names[pick(6)]) + " = " + names[pick(6)] + " +" +
              breaks[pick(4)] + names[pick(6)] + (pick(20) == 0 ? "" : ";");
    }
    text += breaks[pick(4)] + std::string("}") + (pick(4) == 0 ? "\r\nx" : "");
    const Explanation explanation = explain(text);
    const Outcome outcome = run(frame(initialize().dump()) + frame(open(text).dump()));
    ASSERT_EQ(outcome.messages.size(), 2u);
    const Json& diagnostics = outcome.messages[1]["params"]["diagnostics"];
    SCOPED_TRACE(text);
    ASSERT_EQ(diagnostics.size(), explanation.diagnostics.size() + (explanation.ignored ? 1 : 0));
    for (std::size_t i = 0; i < explanation.diagnostics.size(); ++i) {
      const Diagnostic& d = explanation.diagnostics[i];
      const SourcePosition place = d.at ? *d.at : SourcePosition{d.line, d.column};
      EXPECT_EQ(diagnostics[i]["range"]["start"], editor_place(text, place));
      EXPECT_EQ(diagnostics[i]["code"], d.kind);
      ++findings;
    }
    if (explanation.ignored) {
      EXPECT_EQ(diagnostics.back()["range"]["start"], editor_place(text, *explanation.ignored));
    }
  }
  EXPECT_GT(findings, 200);
}

}  // namespace
}  // namespace quern
