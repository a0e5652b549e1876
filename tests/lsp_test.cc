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

// The messages of a framed stream, each a JSON object.
std::vector<Json> messages(const std::string& stream) {
  std::istringstream in(stream);
  lsp::MessageReader reader(in);
  std::vector<Json> all;
  for (auto next = reader.next(); !std::holds_alternative<lsp::MessageReader::End>(next);
       next = reader.next()) {
    const auto* body = std::get_if<lsp::MessageReader::Body>(&next);
    if (body == nullptr) ADD_FAILURE() << "a malformed frame in " << stream;
    if (body == nullptr) break;
    all.push_back(Json::parse(body->text));
  }
  EXPECT_EQ(reader.skipped(), 0u) << "bytes between frames in " << stream;
  return all;
}

struct Outcome {
  int status;
  std::vector<Json> messages;
};

// Serves input whole, as standard input would be.
Outcome run(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  const int status = lsp::serve(in, out);
  return {status, messages(out.str())};
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

constexpr const char* kUri = "file:///c/%E0%A4%95.c";

// A case's messages, one JSON text a line (with "jsonrpc" added and $URI
// replaced); a line that starts with "RAW " is sent as it is, with each
// "\r\n" in it a CR LF.
std::string input(std::string_view lines) {
  std::string all;
  for (std::string_view rest = lines; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    std::string line(rest.substr(0, end));
    rest = end == std::string_view::npos ? "" : rest.substr(end + 1);
    if (line.starts_with("RAW ")) {
      for (std::size_t at; (at = line.find("\\r\\n")) != std::string::npos;)
        line.replace(at, 4, "\r\n");
      all += line.substr(4);
      continue;
    }
    for (std::size_t at; (at = line.find("$URI")) != std::string::npos;) line.replace(at, 4, kUri);
    Json message = Json::parse(line);
    message["jsonrpc"] = "2.0";
    const std::string body = message.dump();
    all += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  return all;
}

// The table reads best with one message a line.
// clang-format off
#define INIT R"({"id":1,"method":"initialize","params":{"capabilities":{}}})" "\n"
#define INITIALIZED R"({"id":1,"result":{"capabilities":{"positionEncoding":"utf-16"}}})" "\n"
#define END R"({"id":9,"method":"shutdown"})" "\n" R"({"method":"exit"})"
#define OPEN(version, text) \
  R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"$URI","languageId":"c","version":)" #version R"(,"text":")" text R"("}}})" "\n"
#define AT(line, character) R"("params":{"textDocument":{"uri":"$URI"},"position":{"line":)" #line R"(,"character":)" #character "}}"
#define RANGE(line, from, to) \
  R"({"start":{"line":)" #line R"(,"character":)" #from R"(},"end":{"line":)" #line R"(,"character":)" #to "}}"

// Two findings on CR LF lines after an astral and a Devanagari name (𝑥 and
// कि take two UTF-16 units each), and text after the closing brace.
#define TWO_FINDINGS R"(int f(int 𝑥, int कि) {\r\n  int 𝑥 = 1;\r\n  return कि + y;\r\n}\r\nleft over)"

TEST(Lsp, Exchanges) {
  struct Case {
    const char* name;
    std::string_view in, out;
    int status;
  };
  const Case cases[] = {
      {"shutdown and exit end with 0; an unknown request gets MethodNotFound",
       INIT R"({"id":2,"method":"quern/nothing"})" "\n" END,
       INITIALIZED R"({"id":2,"error":{"code":-32601}})" "\n" R"({"id":9,"result":null})", 0},
      {"exit without shutdown ends with 1", INIT R"({"method":"exit"})", INITIALIZED, 1},
      {"a body that is not JSON gets a parse error, and the server goes on",
       "RAW Content-Length: 8\\r\\n\\r\\n{\"id\":1,\n" INIT END,
       R"({"id":null,"error":{"code":-32700}})" "\n" INITIALIZED R"({"id":9})", 0},
      {"a frame without Content-Length, or with a bad one, gets a parse error",
       "RAW Content-Type: x\\r\\n\\r\\n\nRAW content-length: 1x\\r\\n\\r\\n\n" INIT END,
       R"({"error":{"code":-32700}})" "\n" R"({"error":{"code":-32700}})" "\n" INITIALIZED R"({"id":9})", 0},
      {"a request before initialize is refused, and so is one after shutdown",
       R"({"id":2,"method":"textDocument/hover",)" AT(0, 0) "}\n" INIT
       R"({"id":9,"method":"shutdown"})" "\n" R"({"id":3,"method":"textDocument/hover",)" AT(0, 0) "}",
       R"({"id":2,"error":{"code":-32002}})" "\n" INITIALIZED R"({"id":9})" "\n" R"({"id":3,"error":{"code":-32600}})", 0},
      {"params of the wrong shape get InvalidParams",
       INIT R"({"id":2,"method":"textDocument/hover","params":{"textDocument":3}})" "\n"
       R"({"id":3,"method":"textDocument/hover",)" AT(0, 1.5) "}",
       INITIALIZED R"({"id":2,"error":{"code":-32602}})" "\n" R"({"id":3,"error":{"code":-32602}})", 1},
      {"findings at their places in UTF-16 units, a redeclaration pointing at the first, the text "
       "after the brace tagged unnecessary",
       INIT OPEN(7, TWO_FINDINGS),
       INITIALIZED R"({"method":"textDocument/publishDiagnostics","params":{"uri":"$URI","version":7,"diagnostics":[)"
       R"({"range":)" RANGE(1, 6, 8) R"(,"severity":1,"code":"redeclaration","source":"quern","relatedInformation":[{"location":{"uri":"$URI","range":)" RANGE(0, 10, 12) "}}]},"
       R"({"range":)" RANGE(2, 14, 15) R"(,"code":"read-undeclared"},)"
       R"({"range":{"start":{"line":4,"character":0},"end":{"line":4,"character":9}},"code":"ignored","tags":[1],)"
       R"("message":"Text after the function's closing brace is not compiled (from line 5, column 1)."}]}})", 1},
      {"UTF-8 columns when the client offers them",
       R"({"id":1,"method":"initialize","params":{"capabilities":{"general":{"positionEncodings":["utf-16","utf-8"]}}}})" "\n"
       OPEN(2, TWO_FINDINGS),
       R"({"result":{"capabilities":{"positionEncoding":"utf-8"}}})" "\n"
       R"({"params":{"version":2,"diagnostics":[{"range":)" RANGE(1, 6, 10) R"(},{"range":)" RANGE(2, 18, 19) "},{}]}}", 1},
      {"a change is answered with its version: no findings when it compiles; a closed document is cleared",
       INIT OPEN(1, "int f() { return y; }")
       R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"$URI","version":2},"contentChanges":[{"text":"int f() { return 1; }"}]}})" "\n"
       R"({"method":"textDocument/didClose","params":{"textDocument":{"uri":"$URI"}}})",
       INITIALIZED R"({"params":{"version":1,"diagnostics":[{"code":"read-undeclared"}]}})" "\n"
       R"({"params":{"version":2,"diagnostics":[]}})" "\n" R"({"params":{"uri":"$URI","diagnostics":[]}})", 1},
      {"hover on a parameter, a variable and a keyword; a jump to the declaration",
       INIT OPEN(1, TWO_FINDINGS) R"({"id":2,"method":"textDocument/hover",)" AT(2, 10) "}\n"
       R"({"id":3,"method":"textDocument/hover",)" AT(1, 7) "}\n"
       R"({"id":4,"method":"textDocument/hover",)" AT(2, 3) "}\n"
       R"({"id":5,"method":"textDocument/definition",)" AT(2, 9) "}",
       INITIALIZED R"({"method":"textDocument/publishDiagnostics"})" "\n"
       R"({"id":2,"result":{"range":)" RANGE(2, 9, 11) R"j(,"contents":{"value":"`कि`: parameter, declared on line 1; starts at the value the run gives it (0 when none is given)"}}})j" "\n"
       R"j({"id":3,"result":{"contents":{"value":"`𝑥`: parameter, declared on line 1; starts at the value the run gives it (0 when none is given)"}}})j" "\n"
       R"({"id":4,"result":{"contents":{"value":"`return`: `return e;` stores `e` as the function's result and goes on with the next statement"}}})" "\n"
       R"({"id":5,"result":{"uri":"$URI","range":)" RANGE(0, 18, 20) "}}", 1},
      {"references, highlights and symbols of a name",
       INIT OPEN(1, R"(int f(int a) {\n  int b = 4;\n  b = a + b;\n  return b;\n}\n)")
       R"({"id":2,"method":"textDocument/references","params":{"textDocument":{"uri":"$URI"},"position":{"line":2,"character":2},"context":{"includeDeclaration":false}}})" "\n"
       R"({"id":3,"method":"textDocument/documentHighlight",)" AT(1, 6) "}\n"
       R"({"id":4,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"$URI"}}})",
       INITIALIZED R"({"params":{"diagnostics":[]}})" "\n"
       R"({"id":2,"result":[{"range":)" RANGE(2, 2, 3) R"(},{"range":)" RANGE(2, 10, 11) R"(},{"range":)" RANGE(3, 9, 10) "}]}\n"
       R"({"id":3,"result":[{"range":)" RANGE(1, 6, 7) R"(,"kind":3},{"range":)" RANGE(2, 2, 3) R"(,"kind":3},)"
       R"({"range":)" RANGE(2, 10, 11) R"(,"kind":2},{"range":)" RANGE(3, 9, 10) R"(,"kind":2}]})" "\n"
       R"({"id":4,"result":[{"name":"f","kind":12,"range":{"start":{"line":0,"character":0},"end":{"line":4,"character":1}},)"
       R"("children":[{"name":"a","detail":"parameter"},{"name":"b","detail":"= 4"}]}]})", 1},
      {"semantic tokens by the answer's kinds and the names' declarations",
       INIT OPEN(1, R"(int f(int 𝑥) {\r\n  return 𝑥 + 1;\r\n}\r\n)")
       R"({"id":2,"method":"textDocument/semanticTokens/full","params":{"textDocument":{"uri":"$URI"}}})",
       INITIALIZED R"({"method":"textDocument/publishDiagnostics"})" "\n"
       R"({"id":2,"result":{"data":[0,0,3,0,0, 0,4,1,3,0, 0,1,1,2,0, 0,1,3,0,0, 0,4,2,4,1, 0,2,1,2,0,)"
       R"(0,2,1,2,0, 1,2,6,0,0, 0,7,2,4,0, 0,3,1,2,0, 0,2,1,1,0, 0,1,1,2,0, 1,0,1,2,0]}})", 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = run(input(c.in));
    // The patterns the output must match, one a line as the input is (each
    // with "jsonrpc" too).
    const std::vector<Json> expected = messages(input(c.out));
    EXPECT_EQ(outcome.status, c.status);
    ASSERT_EQ(outcome.messages.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(matches(outcome.messages[i], expected[i]))
          << "message " << i << ": " << outcome.messages[i].dump() << "\nexpected at least "
          << expected[i].dump();
    }
  }
}

// A broken frame costs itself only: it gets a parse error, its body (here
// with a blank line in it) is passed over, and the request after it is
// answered.
TEST(Lsp, GoesOnAfterABrokenFrame) {
  const std::string body = "{\"jsonrpc\": \"2.0\",\n\n \"id\": 5, \"method\": \"shutdown\"}";
  const std::pair<const char*, std::string> broken[] = {
      {"a length that is no number", "Content-Length: abc\r\n\r\n" + body},
      {"no Content-Length header", "Content-Type: x\r\n\r\n" + body},
      {"a length shorter than the body", "Content-Length: 12\r\n\r\n" + body},
  };
  const std::vector<Json> expected = messages(input(R"({"id":null,"error":{"code":-32700}})"
                                                    "\n" INITIALIZED));
  for (const auto& [name, frame] : broken) {
    const Outcome outcome = run(frame + input(INIT));
    ASSERT_EQ(outcome.messages.size(), expected.size()) << name;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_TRUE(matches(outcome.messages[i], expected[i])) << name << ": " << outcome.messages[i];
    }
  }
}

// The assembly command hands over the explain answer's listing lines with
// every member they have there, their reasons' words too, and the editor
// line of each source line.
TEST(Lsp, ShowAssemblyPassesTheListingThrough) {
  const std::string source =
      "int f(int a) {\r  a = a + 1;\r\n  while (a < 9) { if (a == 3) { a = 5; } }\n  return "
      "a;\n}\n";
  const Outcome outcome = run(input(INIT OPEN(
      1,
      R"(int f(int a) {\r  a = a + 1;\r\n  while (a < 9) { if (a == 3) { a = 5; } }\n  return a;\n}\n)") R"({"id":2,"method":"workspace/executeCommand","params":{"command":"quern.showAssembly","arguments":["$URI"]}})"));
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
    const Json open = {
        {"method", "textDocument/didOpen"},
        {"params", {{"textDocument", {{"uri", kUri}, {"version", 1}, {"text", text}}}}}};
    const Outcome outcome = run(input(INIT + open.dump()));
    ASSERT_EQ(outcome.messages.size(), 2u);
    const Json& diagnostics = outcome.messages[1]["params"]["diagnostics"];
    SCOPED_TRACE(text);
    const std::vector<Diagnostic> expected = explanation.diagnostics();
    ASSERT_EQ(diagnostics.size(), expected.size() + (explanation.ignored ? 1 : 0));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const Diagnostic& d = expected[i];
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
