// The language server: framed JSON-RPC messages in, answers and published
// diagnostics out. Each version of a document is explained once, as the
// explain service explains a source, and every request about it reads that
// one analysis: its findings, its tokens and their kinds, its names and
// where they are declared, and its listing. Places are converted between
// the compiler's lines and characters and the client's lines and units by
// PositionMap; nothing here counts characters.
#include "lsp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "explain.h"
#include "failure.h"
#include "json_text.h"
#include "occurrences.h"
#include "positions.h"
#include "reference.h"
#include "solid_tokens.h"
#include "syntax/parser.h"
#include "why.h"
#include "why_words.h"

namespace quern::lsp {

namespace {

using Json = nlohmann::json;

// JSON-RPC's and the protocol's error codes.
enum ErrorCode : int {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kServerNotInitialized = -32002,
};

struct RpcError {
  int code;
  std::string message;
};

// The protocol's numbers for what the answers name.
enum SymbolKind : int { kSymbolFunction = 12, kSymbolVariable = 13 };
enum Severity : int { kSeverityError = 1, kSeverityWarning = 2 };
enum DiagnosticTag : int { kTagUnnecessary = 1 };
enum HighlightKind : int { kHighlightText = 1, kHighlightRead = 2, kHighlightWrite = 3 };

// The semantic token legend: the answer's token kinds, and a name's kind by
// what its declaration is.
constexpr std::string_view kTokenTypes[] = {"keyword",  "number",    "operator",
                                            "function", "parameter", "variable"};
enum TokenType : int { kKeyword, kNumber, kOperator, kFunction, kParameter, kVariable };
constexpr int kModifierDeclaration = 1;

constexpr std::string_view kShowAssembly = "quern.showAssembly";

std::string dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// One version of an open document and everything read from it. The
// explanation, the tree, the tokens and the names are views of text, so a
// Document never moves (the server holds it by pointer).
struct Document {
  Document(std::string uri_, int64_t version_, std::string text_)
      : uri(std::move(uri_)),
        version(version_),
        text(std::move(text_)),
        explanation(explain(text)),
        function(explanation.function),
        positions(text),
        tokens(explanation.tokens) {
    if (function) names = occurrences(*function, text);
    declared = first_declarations(names);
    starts.reserve(tokens.size());
    for (std::size_t k = 0; k < tokens.size(); ++k) {
      starts.push_back(static_cast<std::size_t>(tokens.text(k).data() - text.data()));
    }
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  const std::string uri;
  const int64_t version;
  const std::string text;
  const Explanation explanation;
  const std::optional<Function>& function;  // the explanation's tree, when the text parsed
  const PositionMap positions;
  const SolidTokens& tokens;  // the explanation's, from the compile's one lexing
  std::vector<Occurrence> names;
  std::unordered_map<std::string_view, std::size_t> declared;  // name to its first declaration
  std::vector<std::size_t> starts;                             // each token's byte offset

  // The token that holds offset, else the one that ends at it.
  std::optional<std::size_t> token_at(std::size_t offset) const {
    auto it = std::upper_bound(starts.begin(), starts.end(), offset);
    if (it == starts.begin()) return std::nullopt;
    const auto k = static_cast<std::size_t>(it - starts.begin() - 1);
    if (offset > starts[k] + tokens.text(k).size()) return std::nullopt;
    return k;
  }
  // The end of the token that starts at offset; offset itself when none does.
  std::size_t token_end(std::size_t offset) const {
    const auto it = std::lower_bound(starts.begin(), starts.end(), offset);
    if (it == starts.end() || *it != offset) return offset;
    return offset + tokens.text(static_cast<std::size_t>(it - starts.begin())).size();
  }
};

}  // namespace

struct Server::State {
  explicit State(std::ostream& out_) : out(out_) {}
  std::ostream& out;
  bool initialized = false;
  ColumnUnit unit = ColumnUnit::Utf16;
  std::unordered_map<std::string, std::unique_ptr<Document>> documents;
};

// The handlers, with access to the server's state.
struct Dispatch {
  Server& server;
  Server::State& s;

  void send(const Json& message) { write_message(s.out, dump(message)); }
  void reply(const Json& id, Json result) {
    send({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
  }
  // A result already written as JSON text.
  void reply_text(const Json& id, const std::string& result) {
    write_message(s.out, R"({"jsonrpc":"2.0","id":)" + dump(id) + R"(,"result":)" + result + "}");
  }
  void reply_error(const Json& id, const RpcError& error) {
    send({{"jsonrpc", "2.0"},
          {"id", id},
          {"error", {{"code", error.code}, {"message", error.message}}}});
  }
  void notify(std::string_view method, Json params) {
    send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
  }
  // A notification cannot be answered: what went wrong goes to the client's log.
  void log_error(const std::string& message) {
    notify("window/logMessage", {{"type", 1}, {"message", "quern: " + message}});
  }

  // --- places -----------------------------------------------------------------

  Json position(const Document& d, std::size_t offset) const {
    const EditorPosition p = d.positions.editor_at(offset, s.unit);
    return {{"line", p.line}, {"character", p.character}};
  }
  Json range(const Document& d, std::size_t from, std::size_t to) const {
    return {{"start", position(d, from)}, {"end", position(d, to)}};
  }
  Json name_range(const Document& d, const Occurrence& o) const {
    return range(d, o.offset, o.offset + o.name.size());
  }
  // A whole number of the message; any other value is refused (a float
  // would not convert safely).
  static int64_t integer(const Json& value) {
    if (!value.is_number_integer()) throw RpcError{kInvalidParams, "expected a whole number"};
    return value.get<int64_t>();
  }
  EditorPosition editor_position(const Json& p) const {
    return {integer(p.at("line")), integer(p.at("character"))};
  }
  std::size_t offset_in(const Document& d, const Json& p) const {
    return d.positions.offset_of(editor_position(p), s.unit);
  }

  Document& document(const Json& params) {
    const std::string& uri = params.at("textDocument").at("uri").get_ref<const std::string&>();
    const auto it = s.documents.find(uri);
    if (it == s.documents.end()) throw RpcError{kInvalidParams, "the document is not open: " + uri};
    return *it->second;
  }

  // --- diagnostics ------------------------------------------------------------

  // The diagnostics are written as text rather than built as a tree of
  // values: a source of 64 KiB may have tens of thousands of findings.
  void append_position(std::string& out, const Document& d, std::size_t offset) const {
    const EditorPosition p = d.positions.editor_at(offset, s.unit);
    out += R"({"line":)";
    json::append_number(out, p.line);
    out += R"(,"character":)";
    json::append_number(out, p.character);
    out += '}';
  }
  void append_range(std::string& out, const Document& d, std::size_t from, std::size_t to) const {
    out += R"({"start":)";
    append_position(out, d, from);
    out += R"(,"end":)";
    append_position(out, d, to);
    out += '}';
  }

  void publish(const Document& d) {
    std::string out =
        R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":)";
    json::append_string(out, d.uri);
    json::append_key(out, "version");
    json::append_number(out, d.version);
    json::append_key(out, "diagnostics");
    out += '[';
    // Opens one diagnostic's object, leaving it open for more members.
    const auto open_item = [&](std::size_t from, std::size_t to, int severity,
                               std::string_view code, std::string_view message) {
      if (out.back() != '[') out += ',';
      out += R"({"range":)";
      append_range(out, d, from, to);
      json::append_key(out, "severity");
      json::append_number(out, severity);
      json::append_key(out, "code");
      json::append_string(out, code);
      out += R"(,"source":"quern","message":)";
      json::append_string(out, message);
    };
    d.explanation.each_diagnostic([&](const Diagnostic& f) {
      const std::size_t start =
          f.at ? d.positions.offset_of(*f.at)
               : (f.line != 0 ? d.positions.offset_of(SourcePosition{f.line, f.column}) : 0);
      std::string message = f.message;
      if (f.is_syntax && !f.causes.empty()) {
        message += ". Possible causes:";
        for (const std::string& cause : f.causes) message += "\n * " + cause;
      }
      open_item(start, d.token_end(start), kSeverityError, f.kind, message);
      const auto first =
          f.kind == "redeclaration" && f.name ? d.declared.find(*f.name) : d.declared.end();
      if (first != d.declared.end()) {
        const Occurrence& declaration = d.names[first->second];
        out += R"(,"relatedInformation":[{"location":{"uri":)";
        json::append_string(out, d.uri);
        out += R"(,"range":)";
        append_range(out, d, declaration.offset, declaration.offset + declaration.name.size());
        out += R"(},"message":)";
        json::append_string(out, "'" + *f.name + "' is first declared here");
        out += "}]";
      }
      out += '}';
    });
    if (d.explanation.ignored) {
      open_item(d.positions.offset_of(*d.explanation.ignored), d.text.size(), kSeverityWarning,
                "ignored", ignored_message(*d.explanation.ignored));
      out += R"(,"tags":[)" + std::to_string(kTagUnnecessary) + "]}";
    }
    out += "]}}";
    write_message(s.out, out);
  }

  void open(std::string uri, int64_t version, std::string text) {
    auto document = std::make_unique<Document>(uri, version, std::move(text));
    publish(*document);
    s.documents[std::move(uri)] = std::move(document);
  }

  // --- notifications ------------------------------------------------------------

  void did_open(const Json& params) {
    const Json& item = params.at("textDocument");
    open(item.at("uri").get<std::string>(), integer(item.at("version")),
         item.at("text").get<std::string>());
  }

  // Full sync sends the whole text; a change with a range is applied to the
  // text as it stands, so a client that sends pieces is served too.
  void did_change(const Json& params) {
    Document& d = document(params);
    std::string text = d.text;
    for (const Json& change : params.at("contentChanges")) {
      const std::string& piece = change.at("text").get_ref<const std::string&>();
      if (!change.contains("range")) {
        text = piece;
        continue;
      }
      const PositionMap now(text);
      const auto offset = [&](const Json& p) { return now.offset_of(editor_position(p), s.unit); };
      const Json& r = change.at("range");
      const std::size_t from = offset(r.at("start"));
      const std::size_t to = std::max(from, offset(r.at("end")));
      text.replace(from, to - from, piece);
    }
    open(d.uri, integer(params.at("textDocument").at("version")), std::move(text));
  }

  void did_close(const Json& params) {
    const std::string uri = document(params).uri;
    notify("textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", Json::array()}});
    s.documents.erase(uri);
  }

  // --- requests -----------------------------------------------------------------

  Json initialize(const Json& params) {
    const Json* encodings = nullptr;
    if (params.contains("capabilities") && params["capabilities"].contains("general")) {
      const Json& general = params["capabilities"]["general"];
      if (general.contains("positionEncodings")) encodings = &general["positionEncodings"];
    }
    s.unit = ColumnUnit::Utf16;
    if (encodings != nullptr && encodings->is_array()) {
      for (const Json& e : *encodings) {
        if (e == "utf-8") s.unit = ColumnUnit::Utf8;
      }
    }
    s.initialized = true;
    Json types = Json::array();
    for (std::string_view t : kTokenTypes) types.push_back(t);
    return {
        {"capabilities",
         {{"positionEncoding", s.unit == ColumnUnit::Utf8 ? "utf-8" : "utf-16"},
          {"textDocumentSync", {{"openClose", true}, {"change", 1}}},
          {"hoverProvider", true},
          {"definitionProvider", true},
          {"referencesProvider", true},
          {"documentHighlightProvider", true},
          {"documentSymbolProvider", true},
          {"semanticTokensProvider",
           {{"legend", {{"tokenTypes", types}, {"tokenModifiers", Json::array({"declaration"})}}},
            {"full", true}}},
          {"executeCommandProvider", {{"commands", Json::array({kShowAssembly})}}}}},
        {"serverInfo", {{"name", "quern"}, {"version", QUERN_VERSION}}}};
  }

  // What a name's declaration says of it.
  std::string describe(const Document& d, const Occurrence& o) const {
    const std::string name = "`" + std::string(o.name) + "`";
    if (o.role == Occurrence::Role::Function) {
      const Function& f = *d.function;
      std::string text = name + ": the function, returning " +
                         (f.return_type == Type::Int ? "int" : "void") + ", with ";
      if (f.parameters.empty()) return text + "no parameters";
      text += f.parameters.size() == 1 ? "the parameter " : "the parameters ";
      for (std::size_t i = 0; i < f.parameters.size(); ++i) {
        text += (i == 0 ? "" : ", ") + ("`" + std::string(f.parameters[i].name) + "`");
      }
      return text;
    }
    const auto first = d.declared.find(o.name);
    if (first == d.declared.end()) return name + ": not declared";
    const Occurrence& declaration = d.names[first->second];
    const std::string where =
        "declared on line " +
        std::to_string(d.positions.editor_at(declaration.offset, s.unit).line + 1);
    if (declaration.role == Occurrence::Role::Parameter) {
      return name + ": parameter, " + where +
             "; starts at the value the run gives it (0 when none is given)";
    }
    return name + ": variable, " + where + "; starts at " + std::to_string(declaration.value);
  }

  Json hover(const Json& params) {
    const Document& d = document(params);
    const std::size_t offset = offset_in(d, params.at("position"));
    std::string text;
    Json where;
    if (const auto i = occurrence_at(d.names, offset)) {
      text = describe(d, d.names[*i]);
      where = name_range(d, d.names[*i]);
    } else if (const auto k = d.token_at(offset)) {
      const std::string_view token = d.tokens.text(*k);
      const std::optional<std::string_view> line = reference_line(token);
      if (!line) return nullptr;
      text = "`" + std::string(token) + "`: " + std::string(*line);
      where = range(d, d.starts[*k], d.starts[*k] + token.size());
    } else {
      return nullptr;
    }
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", where}};
  }

  // The occurrences of the name at the request's position: itself when it
  // is the function, else every use of the name in the function's scope.
  std::vector<std::size_t> same_name(const Document& d, const Json& params) const {
    const auto i = occurrence_at(d.names, offset_in(d, params.at("position")));
    if (!i) return {};
    const Occurrence& at = d.names[*i];
    if (at.role == Occurrence::Role::Function) return {*i};
    std::vector<std::size_t> all;
    for (std::size_t k = 0; k < d.names.size(); ++k) {
      if (d.names[k].name == at.name && d.names[k].role != Occurrence::Role::Function) {
        all.push_back(k);
      }
    }
    return all;
  }

  Json definition(const Json& params) {
    const Document& d = document(params);
    const auto i = occurrence_at(d.names, offset_in(d, params.at("position")));
    if (!i) return nullptr;
    std::size_t target = *i;
    if (d.names[*i].role != Occurrence::Role::Function) {
      const auto first = d.declared.find(d.names[*i].name);
      if (first == d.declared.end()) return nullptr;
      target = first->second;
    }
    return {{"uri", d.uri}, {"range", name_range(d, d.names[target])}};
  }

  Json references(const Json& params) {
    const Document& d = document(params);
    const bool with_declaration =
        params.contains("context") && params["context"].value("includeDeclaration", false);
    Json list = Json::array();
    for (const std::size_t k : same_name(d, params)) {
      if (d.names[k].declares() && !with_declaration) continue;
      list.push_back({{"uri", d.uri}, {"range", name_range(d, d.names[k])}});
    }
    return list;
  }

  Json highlights(const Json& params) {
    const Document& d = document(params);
    Json list = Json::array();
    for (const std::size_t k : same_name(d, params)) {
      const Occurrence::Role role = d.names[k].role;
      const int kind = role == Occurrence::Role::Read       ? kHighlightRead
                       : role == Occurrence::Role::Function ? kHighlightText
                                                            : kHighlightWrite;
      list.push_back({{"range", name_range(d, d.names[k])}, {"kind", kind}});
    }
    return list;
  }

  Json symbols(const Json& params) {
    const Document& d = document(params);
    if (!d.function || d.names.empty()) return Json::array();
    // The function runs from its first token to its closing brace, the last
    // token before any text that is not compiled.
    std::size_t last = d.tokens.size();
    if (d.explanation.ignored) last = *d.token_at(d.positions.offset_of(*d.explanation.ignored));
    const std::size_t end = d.starts[last - 1] + d.tokens.text(last - 1).size();
    Json children = Json::array();
    for (const Occurrence& o : d.names) {
      if (!o.declares()) continue;
      const bool parameter = o.role == Occurrence::Role::Parameter;
      children.push_back({{"name", o.name},
                          {"detail", parameter ? "parameter" : "= " + std::to_string(o.value)},
                          {"kind", kSymbolVariable},
                          {"range", name_range(d, o)},
                          {"selectionRange", name_range(d, o)}});
    }
    const Occurrence& function = d.names.front();
    return Json::array({{{"name", function.name},
                         {"kind", kSymbolFunction},
                         {"range", range(d, d.starts.front(), end)},
                         {"selectionRange", name_range(d, function)},
                         {"children", std::move(children)}}});
  }

  // Written as text, as the diagnostics are: five numbers a token.
  std::string semantic_tokens(const Json& params) {
    const Document& d = document(params);
    std::string out = R"({"data":[)";
    EditorPosition previous;
    for (std::size_t k = 0; k < d.tokens.size(); ++k) {
      const std::size_t start = d.starts[k];
      const std::string_view kind = d.tokens.kind(k);
      int type = kind == "keyword"  ? kKeyword
                 : kind == "number" ? kNumber
                 : kind == "symbol" ? kOperator
                                    : kVariable;
      int modifiers = 0;
      if (const auto i = occurrence_at(d.names, start); i && d.names[*i].offset == start) {
        const Occurrence& o = d.names[*i];
        const auto first = d.declared.find(o.name);
        type = o.role == Occurrence::Role::Function ? kFunction
               : first != d.declared.end() &&
                       d.names[first->second].role == Occurrence::Role::Parameter
                   ? kParameter
                   : kVariable;
        if (o.declares()) modifiers = kModifierDeclaration;
      }
      const EditorPosition from = d.positions.editor_at(start, s.unit);
      const EditorPosition to = d.positions.editor_at(start + d.tokens.text(k).size(), s.unit);
      for (const int64_t n :
           {from.line - previous.line,
            from.line == previous.line ? from.character - previous.character : from.character,
            to.character - from.character, int64_t{type}, int64_t{modifiers}}) {
        if (out.back() != '[') out += ',';
        json::append_number(out, n);
      }
      previous = from;
    }
    return out + "]}";
  }

  // The listing of the document's compile as the explain answer gives it,
  // each line's members as they are there, with the editor line of its
  // source line beside them.
  Json show_assembly(const Json& params) {
    const Json& arguments = params.at("arguments");
    if (!arguments.is_array() || arguments.empty()) {
      throw RpcError{kInvalidParams, std::string(kShowAssembly) + " takes the document's URI"};
    }
    const Json& first = arguments[0];
    const Json uri = first.is_object() ? first.at("uri") : first;
    const Document& d = document({{"textDocument", {{"uri", uri}}}});
    Json answer = {{"uri", d.uri}, {"version", d.version}, {"ok", !d.explanation.error}};
    if (d.explanation.error) {
      answer["lines"] = Json::array();
      return answer;
    }
    Json lines = Json::array();
    const ReasonWords words(d.explanation);
    std::string text;
    each_listed_line(d.explanation, [&](const ListedLine& listed, int32_t source, Why why) {
      Json line = {{"text", std::string(listed.text)},
                   {"source", source == 0 ? Json() : Json(source)},
                   {"kind", std::string(line_kind_text(listed.kind))}};
      if (listed.kind != ListedLine::Kind::Instruction) line["name"] = std::string(listed.name);
      if (listed.role) line["role"] = std::string(label_role_text(*listed.role));
      if (listed.kind == ListedLine::Kind::Data) line["value"] = listed.value;
      if (listed.kind == ListedLine::Kind::Instruction) {
        line["op"] = std::string(listed.op);
        Json& operands = line["operands"] = Json::array();
        for (const std::string_view text : listed.operand_texts()) {
          operands.push_back(std::string(text));
        }
      }
      Json& reason = line["why"] = {{"rule", std::string(why::row(why.rule()).name)},
                                    {"node", why.has_node() ? Json(why.node()) : Json()}};
      if (why.pair() != WhyPair::None) reason["pair"] = std::string(why::row(why.pair()).name);
      if (why.optimiser() != WhyOptimiser::None) {
        reason["optimiser"] = std::string(why::row(why.optimiser()).name);
      }
      text.clear();
      words.reason(listed, why, Listing::Final, text);
      reason["text"] = text;
      line["editorLine"] =
          source == 0 ? Json() : Json(d.positions.editor_line_of_source_line(source));
      lines.push_back(std::move(line));
    });
    answer["lines"] = std::move(lines);
    return answer;
  }

  // --- dispatch -----------------------------------------------------------------

  void request(const Json& id, const std::string& method, const Json& params) {
    if (method == "initialize") {
      if (s.initialized) throw RpcError{kInvalidRequest, "initialize was already received"};
      return reply(id, initialize(params));
    }
    if (!s.initialized) throw RpcError{kServerNotInitialized, "initialize comes first"};
    if (server.shutdown_) throw RpcError{kInvalidRequest, "the server is shutting down"};
    if (method == "shutdown") {
      server.shutdown_ = true;
      return reply(id, nullptr);
    }
    using Handler = Json (Dispatch::*)(const Json&);
    static const std::unordered_map<std::string_view, Handler> kRequests = {
        {"textDocument/hover", &Dispatch::hover},
        {"textDocument/definition", &Dispatch::definition},
        {"textDocument/references", &Dispatch::references},
        {"textDocument/documentHighlight", &Dispatch::highlights},
        {"textDocument/documentSymbol", &Dispatch::symbols},
    };
    if (method == "workspace/executeCommand") {
      if (params.at("command").get<std::string>() != kShowAssembly) {
        throw RpcError{kInvalidParams, "unknown command: " + dump(params.at("command"))};
      }
      return reply(id, show_assembly(params));
    }
    if (method == "textDocument/semanticTokens/full") {
      return reply_text(id, semantic_tokens(params));
    }
    const auto it = kRequests.find(method);
    if (it == kRequests.end()) throw RpcError{kMethodNotFound, "unknown method: " + method};
    reply(id, (this->*(it->second))(params));
  }

  void notification(const std::string& method, const Json& params) {
    if (method == "exit") {
      server.exited_ = true;
      return;
    }
    if (!s.initialized || server.shutdown_) return;
    if (method == "textDocument/didOpen") return did_open(params);
    if (method == "textDocument/didChange") return did_change(params);
    if (method == "textDocument/didClose") return did_close(params);
    // Others ("initialized", "$/cancelRequest", "textDocument/didSave", ...)
    // need nothing.
  }

  void handle(const std::string& body) {
    const Json message = Json::parse(body, nullptr, false);
    if (message.is_discarded()) return reply_error(nullptr, {kParseError, "the body is not JSON"});
    if (!message.is_object()) {
      return reply_error(nullptr, {kInvalidRequest, "a message is a JSON object"});
    }
    const auto id_it = message.find("id");
    const bool has_id = id_it != message.end();
    const Json id = has_id ? *id_it : Json();
    if (has_id && !id.is_number_integer() && !id.is_string()) {
      return reply_error(nullptr, {kInvalidRequest, "an id is a number or a string"});
    }
    const auto method_it = message.find("method");
    if (method_it == message.end()) {
      // A response to a request of the server's: it sends none that need one.
      if (has_id && (message.contains("result") || message.contains("error"))) return;
      return reply_error(id, {kInvalidRequest, "a request has a method"});
    }
    if (!method_it->is_string()) return reply_error(id, {kInvalidRequest, "a method is a string"});
    const std::string& method = method_it->get_ref<const std::string&>();
    const Json params = message.value("params", Json::object());
    try {
      if (has_id) {
        request(id, method, params);
      } else {
        notification(method, params);
      }
    } catch (const RpcError& error) {
      if (has_id) {
        reply_error(id, error);
      } else {
        log_error(method + ": " + error.message);
      }
    } catch (const Json::exception& e) {
      // A member missing or of the wrong type.
      const std::string why = method + ": invalid params: " + e.what();
      if (has_id) {
        reply_error(id, {kInvalidParams, why});
      } else {
        log_error(why);
      }
    }
  }
};

// --- framing -------------------------------------------------------------------

namespace {

// The value of a "Content-Length" header line (its name in any case), or
// none when the line is another header; Malformed when the value is not a
// number.
std::variant<std::monostate, std::size_t, std::string> content_length(std::string_view line) {
  constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) return std::monostate{};
  for (std::size_t i = 0; i < kName.size(); ++i) {
    const char c = line[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kName[i]) return std::monostate{};
  }
  std::string_view value = line.substr(kName.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  std::size_t n = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (value.empty() || error != std::errc{} || end != value.data() + value.size()) {
    return "Content-Length is not a number of bytes";
  }
  return n;
}

// Whether a header line starts as a header does: a name of letters, digits
// and "-", then ":". The rest of a body that ran on past its Content-Length
// does not: JSON has a quote before any ":" it holds.
bool header_shaped(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '-')) {
    ++i;
  }
  return i > 0 && i < line.size() && line[i] == ':';
}

}  // namespace

std::optional<std::string> MessageReader::resync(std::string_view line, bool complete) {
  // The header's name in any case; its "c" stands nowhere else in it, so a
  // mismatch starts the match again at a "c" or before the next byte.
  constexpr std::string_view kName = "content-length:";
  std::size_t matched = 0;
  const auto step = [&](char c) {
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    matched = lower == kName[matched] ? matched + 1 : lower == kName[0] ? 1 : 0;
    return matched == kName.size();
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (step(line[i])) {
      skipped_ += i + 1 - kName.size();
      return std::string(kName) + std::string(line.substr(i + 1));
    }
  }
  skipped_ += line.size() + (complete ? 1 : 0);
  if (complete) step('\n');
  for (int c; (c = in_.get()) != std::char_traits<char>::eof();) {
    if (step(static_cast<char>(c))) {
      skipped_ -= kName.size() - 1;
      return std::string(kName);
    }
    ++skipped_;
  }
  return std::nullopt;
}

std::variant<MessageReader::Body, MessageReader::Malformed, MessageReader::End>
MessageReader::next() {
  // What the frame's headers say, and whether there are any.
  struct Headers {
    std::optional<std::size_t> length;
    std::optional<std::string> problem;
    bool any = false;
  } headers;
  auto& [length, problem, any] = headers;
  std::string line;  // the start of a header line that a resync found
  for (;;) {
    // One header line, up to its line feed, or its first bytes over the
    // limit.
    int c = 0;
    while (line.size() <= kMaxHeaderLine && (c = in_.get()) != std::char_traits<char>::eof() &&
           c != '\n') {
      line += static_cast<char>(c);
    }
    if (c == std::char_traits<char>::eof()) return End{};
    const bool too_long = line.size() > kMaxHeaderLine;
    if (line.empty() || line == "\r") break;
    if (!header_shaped(line)) {
      // Out of step with the frames: the rest of a frame that has been
      // answered already, or could not be read. The next frame starts at the
      // next Content-Length header.
      std::optional<std::string> found = resync(line, !too_long);
      if (!found) return End{};
      line = std::move(*found);
      headers = {};
      continue;
    }
    any = true;
    if (!too_long && line.back() == '\r') line.pop_back();
    if (too_long) {
      in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      if (in_.eof()) return End{};
      problem = "a header line is longer than " + std::to_string(kMaxHeaderLine) + " bytes";
    } else {
      auto value = content_length(line);
      if (auto* n = std::get_if<std::size_t>(&value)) length = *n;
      if (auto* why = std::get_if<std::string>(&value)) problem = *why;
    }
    line.clear();
  }
  if (problem) return Malformed{*problem};
  if (!length) return Malformed{any ? "no Content-Length header" : "an empty header"};
  if (*length > kMaxBody) {
    in_.ignore(static_cast<std::streamsize>(*length));
    if (!in_) return End{};
    return Malformed{"a body of " + std::to_string(*length) + " bytes is over the limit of " +
                     std::to_string(kMaxBody)};
  }
  std::string body;
  char buffer[1 << 16];
  while (body.size() < *length) {
    const std::size_t want = std::min(sizeof buffer, *length - body.size());
    in_.read(buffer, static_cast<std::streamsize>(want));
    body.append(buffer, static_cast<std::size_t>(in_.gcount()));
    if (!in_) return End{};
  }
  return Body{std::move(body)};
}

void write_message(std::ostream& out, const std::string& body) {
  out << "Content-Length: " << body.size() << "\r\n\r\n" << body;
  out.flush();
}

Server::Server(std::ostream& out) : state_(std::make_unique<State>(out)) {}
Server::~Server() = default;

void Server::handle(const std::string& body) {
  Dispatch{*this, *state_}.handle(body);
}

void Server::refuse_frame(const std::string& reason) {
  Dispatch{*this, *state_}.reply_error(nullptr, {kParseError, reason});
}

int serve_standard_streams() {
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  return serve(std::cin, std::cout);
}

int serve(std::istream& in, std::ostream& out) {
  MessageReader reader(in);
  Server server(out);
  for (;;) {
    auto message = reader.next();
    if (std::holds_alternative<MessageReader::End>(message)) return server.exit_status();
    if (auto* malformed = std::get_if<MessageReader::Malformed>(&message)) {
      server.refuse_frame(malformed->reason);
      continue;
    }
    server.handle(std::get<MessageReader::Body>(message).text);
    if (server.exited()) return server.exit_status();
  }
}

}  // namespace quern::lsp
