// The explain answer as JSON text. The members that the answer has always
// had (ok, answer, diagnostics, lines, unoptimised) keep their exact bytes;
// the structure that front ends read instead of parsing text comes after
// them in each object.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "cfg.h"
#include "explain.h"
#include "failure.h"
#include "isa.h"
#include "json_text.h"
#include "printer.h"
#include "solid_tokens.h"
#include "why.h"

namespace quern {

namespace json {

void append_escaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // the start of the run of characters taken as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(plain, i - plain));
    plain = i + 1;
    out += '\\';
    switch (c) {
      case '"':
      case '\\':
        out += static_cast<char>(c);
        break;
      case '\b':
        out += 'b';
        break;
      case '\f':
        out += 'f';
        break;
      case '\n':
        out += 'n';
        break;
      case '\r':
        out += 'r';
        break;
      case '\t':
        out += 't';
        break;
      default:
        out += "u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(text.substr(plain));
}

void append_string(std::string& out, std::string_view text) {
  out += '"';
  append_escaped(out, text);
  out += '"';
}

void append_number(std::string& out, int64_t n) {
  out += std::to_string(n);
}

void append_position(std::string& out, SourcePosition position) {
  out += R"({"line":)";
  append_number(out, position.line);
  out += R"(,"column":)";
  append_number(out, position.column);
  out += '}';
}

void append_key(std::string& out, std::string_view key) {
  out += ',';
  append_string(out, key);
  out += ':';
}

}  // namespace json

namespace {

using Json = nlohmann::ordered_json;

std::string dump(const Json& value) {
  try {
    return value.dump();
  } catch (const Json::exception& e) {
    internal_failure(std::string("JSON answer: ") + e.what());
  }
}

std::string_view role_text(LabelRole role) {
  switch (role) {
    case LabelRole::LoopHead:
      return "loop-head";
    case LabelRole::LoopExit:
      return "loop-exit";
    case LabelRole::LoopBody:
      return "loop-body";
    case LabelRole::Taken:
      return "taken";
    case LabelRole::IfEnd:
      return "if-end";
  }
  internal_failure("unknown label role");
}

bool is_data(const LabelledInstruction& element) {
  return std::holds_alternative<ins::Value>(element.instruction);
}

// Writes the common members of a printed line of element (its label line
// when label, else its instruction line), from "{" up to the members that
// follow them: text, source (the line of the construct, null for none),
// kind and what the kind has.
void append_line_head(std::string& out, const LabelledInstruction& element, bool label,
                      int32_t source) {
  char scratch[4 + kInstructionTextBound + 64];
  std::string wide;  // for a line with a name longer than scratch allows
  char* at = scratch;
  if (line_bound() > sizeof scratch) {
    wide.resize(line_bound());
    at = wide.data();
  }
  const char* end = label ? write_label_line(at, std::get<label::Name>(element.label))
                          : write_instruction_line(at, element.instruction);
  out += R"({"text":)";
  json::append_string(out, std::string_view(at, static_cast<std::size_t>(end - at)));
  out += R"(,"source":)";
  if (source == 0) {
    out += "null";
  } else {
    json::append_number(out, source);
  }
  if (label) {
    const NameId id = std::get<label::Name>(element.label).id;
    char name[NameId::kMaxFormatted];
    json::append_key(out, "kind");
    out += R"("label")";
    json::append_key(out, "name");
    json::append_string(out, id.view(name));
    if (id.is_generated()) {
      json::append_key(out, "role");
      json::append_string(out, role_text(id.label_role()));
    }
  } else if (const auto* value = std::get_if<ins::Value>(&element.instruction)) {
    char name[NameId::kMaxFormatted];
    json::append_key(out, "kind");
    out += R"("data")";
    json::append_key(out, "name");
    json::append_string(out, std::get<label::Name>(element.label).id.view(name));
    json::append_key(out, "value");
    json::append_number(out, value->v);
  } else {
    const isa::Row& row = isa::kRows[element.instruction.index()];
    json::append_key(out, "kind");
    out += R"("instruction")";
    json::append_key(out, "op");
    json::append_string(out, row.mnemonic);
    json::append_key(out, "operands");
    out += '[';
    for (std::size_t place = 0; place < row.arity; ++place) {
      if (place != 0) out += ',';
      const char* operand_end = write_operand_text(at, element.instruction, place);
      json::append_string(out, std::string_view(at, static_cast<std::size_t>(operand_end - at)));
    }
    out += ']';
  }
}

// The member "why" of a line of element: the rule that made it, the node it
// serves, how an operation's operands reached the registers, and the
// optimiser's rule where it changed or removed the element.
void append_why(std::string& out, Why why) {
  json::append_key(out, "why");
  out += R"({"rule":)";
  json::append_string(out, why::row(why.rule()).name);
  json::append_key(out, "node");
  if (why.place() < 0) {
    out += "null";
  } else {
    json::append_number(out, why.place());
  }
  if (why.pair() != WhyPair::None) {
    json::append_key(out, "pair");
    json::append_string(out, why::row(why.pair()).name);
  }
  if (why.optimiser() != WhyOptimiser::None) {
    json::append_key(out, "optimiser");
    json::append_string(out, why::row(why.optimiser()).name);
  }
  out += '}';
}

void append_cfg(json::Writer& writer, const std::vector<BasicBlock>& blocks) {
  std::string& out = writer.text;
  out += '[';
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (b != 0) out += ',';
    out += R"({"from":)";
    json::append_number(out, static_cast<int64_t>(blocks[b].from));
    json::append_key(out, "to");
    json::append_number(out, static_cast<int64_t>(blocks[b].to));
    json::append_key(out, "next");
    json::append_numbers(out, blocks[b].next);
    // The place in next of the block that control falls through to.
    json::append_key(out, "fall");
    if (blocks[b].falls_through) {
      json::append_number(out, static_cast<int64_t>(blocks[b].next.size() - 1));
    } else {
      out += "null";
    }
    out += '}';
    writer.spill();
  }
  out += ']';
}

// One member of "words": a data word, its kind, its line and its value.
void append_word(std::string& out, const Explanation& e, const LabelledInstruction& element,
                 int32_t line) {
  const NameId id = std::get<label::Name>(element.label).id;
  char scratch[NameId::kMaxFormatted];
  const std::string_view name = id.view(scratch);
  std::string_view kind = "variable";
  if (id.is_constant()) {
    kind = "constant";
  } else if (id.is_temporary()) {
    kind = "temporary";
  } else if (name == "_RES") {
    kind = "result";
  } else if (std::find(e.parameters.begin(), e.parameters.end(), name) != e.parameters.end()) {
    kind = "parameter";
  }
  out += R"({"name":)";
  json::append_string(out, name);
  json::append_key(out, "kind");
  json::append_string(out, kind);
  json::append_key(out, "line");
  if (line == 0) {
    out += "null";
  } else {
    json::append_number(out, line);
  }
  json::append_key(out, "value");
  json::append_number(out, std::get<ins::Value>(element.instruction).v);
  out += '}';
}

// Writes a JSON array as the compile's elements pass, one replay of the
// back end: each(element index in its stretch, stretch) appends the items
// of that element, each after item() has placed its comma.
template <class Each>
class ArrayWriter final : public ElementSink {
 public:
  ArrayWriter(json::Writer& writer, const Each& each) : writer_(writer), each_(each) {}
  bool wants_detail() const override { return true; }
  bool take(const Stretch& s) override {
    for (std::size_t i = 0; i < s.elements.size(); ++i) each_(*this, i, s);
    return true;
  }
  // Places the comma before an item, and passes finished text on.
  std::string& item() {
    writer_.spill();
    if (!first_) writer_.text += ',';
    first_ = false;
    return writer_.text;
  }

 private:
  json::Writer& writer_;
  const Each& each_;
  bool first_ = true;
};

// Hands each printed line of the passing elements to line(element, label).
template <class Line>
class StretchLines final : public ElementSink {
 public:
  explicit StretchLines(const Line& line) : line_(line) {}
  bool take(const Stretch& s) override {
    for (const LabelledInstruction& element : s.elements) {
      if (std::holds_alternative<label::Name>(element.label)) line_(element, true);
      if (!std::holds_alternative<ins::Nop>(element.instruction)) line_(element, false);
    }
    return true;
  }

 private:
  Line line_;
};

template <class Each>
void append_replayed(json::Writer& writer, const Explanation& e, const Each& each) {
  writer.text += '[';
  ArrayWriter<Each> array(writer, each);
  e.replay(array);
  writer.text += ']';
  writer.spill();
}

// A subtree written and not yet any node's child: its place in the array,
// and the raw token just after it.
struct Root {
  uint32_t place;
  uint32_t after;
};

// Where node ends and which token is its text (kNone for none), from its
// children, the last ones of roots (see TreeSpan).
constexpr uint32_t kNone = UINT32_MAX;
struct Span {
  uint32_t after, text;
};
Span span_of(const TreeSpan& node, const std::vector<Root>& roots, const SolidTokens& tokens) {
  const uint32_t last = node.children() == 0 ? kNone : roots.back().after;
  // The token after a statement's last child (its ";"), or a block's "}".
  const auto closing = [&](uint32_t from) { return tokens.solid_index_from(from) + 1; };
  switch (node.kind()) {
    case NodeKind::Literal:
    case NodeKind::Variable:
      return {node.first + 1, node.first};
    case NodeKind::Parameter: {
      const uint32_t name = tokens.solid_index_from(node.first + 1);
      return {name + 1, name};
    }
    case NodeKind::Assignment:
      return {closing(last), node.first};
    case NodeKind::Declaration:
      return {closing(last), tokens.solid_index_from(node.first + 1)};
    case NodeKind::Return:
      return {closing(last), kNone};
    case NodeKind::Block:
      return {closing(node.children() == 0 ? node.first + 1 : last), kNone};
    case NodeKind::Function:
      return {last, tokens.solid_index_from(node.first + 1)};
    case NodeKind::Compare:
      return {last, tokens.solid_index_from(roots[roots.size() - 2].after)};
    default:
      return {last, kNone};
  }
}

// The tree from its record, a flat array of nodes in postorder (the root
// last), each naming its children by their places in the array, so that no
// reader needs to recurse as deep as a long chain nests.
void append_tree(json::Writer& writer, const Explanation& e) {
  std::string& out = writer.text;
  out += '[';
  std::vector<Root> roots;
  std::vector<uint32_t> children;
  for (std::size_t n = 0; n < e.tree.size(); ++n) {
    const TreeSpan& node = e.tree[n];
    if (node.children() > roots.size())
      internal_failure("a tree node with more children than nodes");
    const Span span = span_of(node, roots, e.tokens);
    if (n != 0) out += ',';
    out += R"({"kind":)";
    json::append_string(out, node_kind_text(node.kind()));
    const SourcePosition start = e.tokens.raw_start(node.first);
    json::append_key(out, "line");
    json::append_number(out, start.line);
    json::append_key(out, "column");
    json::append_number(out, start.column);
    json::append_key(out, "end");
    json::append_position(out, e.tokens.raw_start(span.after));
    if (span.text != kNone) {
      json::append_key(out, "text");
      json::append_string(out, e.tokens.raw_text(span.text));
    }
    json::append_key(out, "children");
    const std::size_t first_child = roots.size() - node.children();
    children.clear();
    for (std::size_t k = first_child; k < roots.size(); ++k) children.push_back(roots[k].place);
    json::append_numbers(out, children);
    out += '}';
    roots.resize(first_child);
    roots.push_back({static_cast<uint32_t>(n), span.after});
    writer.spill();
  }
  if (roots.size() > 1) internal_failure("a tree with more than one root");
  out += ']';
}

void append_tokens(json::Writer& writer, const SolidTokens& tokens) {
  std::string& out = writer.text;
  out += '[';
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (k != 0) out += ',';
    out += R"({"text":)";
    json::append_string(out, tokens.text(k));
    const SourcePosition start = tokens.start(k);
    json::append_key(out, "line");
    json::append_number(out, start.line);
    json::append_key(out, "column");
    json::append_number(out, start.column);
    json::append_key(out, "kind");
    json::append_string(out, tokens.kind(k));
    out += '}';
    writer.spill();
  }
  out += ']';
}

void append_nullable(std::string& out, int32_t n) {
  if (n == 0) {
    out += "null";
  } else {
    json::append_number(out, n);
  }
}

// A syntax error's causes as structure: what the grammar expected where it
// stopped, and what it found there, each once in the order of the causes
// (the token where it stopped when no cause names what it found).
//   expected: {kind: "token", text} | {kind: "type"} | {kind: "name"} | {kind: "number"}
//   found: {kind: "token" | "blank", text} | {kind: "end"}
//          | {kind: "number", text, problem: "too-large" | "not-decimal"}
void append_expected_found(std::string& out, const Diagnostic& d) {
  Json expected = Json::array(), found = Json::array();
  const auto add = [](Json& list, Json item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(std::move(item));
  };
  for (const ErrorEntry& entry : d.entries) {
    const std::string& text = entry.payload;
    switch (entry.cause) {
      case Cause::Plain:
        if (entry.kind == EntryKind::Expected) add(expected, {{"kind", "token"}, {"text", text}});
        if (entry.kind == EntryKind::Unexpected) {
          add(found,
              entry.is_token ? Json{{"kind", "token"}, {"text", text}} : Json{{"kind", "end"}});
        }
        break;
      case Cause::Blank:
        add(found, {{"kind", "blank"}, {"text", text}});
        break;
      case Cause::ExpectedType:
        add(expected, {{"kind", "type"}});
        break;
      case Cause::ExpectedName:
        add(expected, {{"kind", "name"}});
        add(found, {{"kind", "token"}, {"text", text}});
        break;
      case Cause::ExpectedNumber:
        add(expected, {{"kind", "number"}});
        break;
      case Cause::TooLarge:
      case Cause::NotDecimal:
        add(found, {{"kind", "number"},
                    {"text", text},
                    {"problem", entry.cause == Cause::TooLarge ? "too-large" : "not-decimal"}});
        break;
    }
  }
  // When no cause says what stood there, the token where the parser stopped.
  if (found.empty()) {
    add(found, d.next ? Json{{"kind", "token"}, {"text", *d.next}} : Json{{"kind", "end"}});
  }
  json::append_key(out, "expected");
  out += dump(expected);
  json::append_key(out, "found");
  out += dump(found);
}

void append_diagnostic(json::Writer& writer, const Diagnostic& d) {
  std::string& out = writer.text;
  out += R"({"line":)";
  append_nullable(out, d.line);
  out += R"(,"column":)";
  append_nullable(out, d.column);
  json::append_key(out, "message");
  json::append_string(out, d.message);
  if (d.is_syntax) {
    json::append_key(out, "causes");
    json::append_strings(out, d.causes);
    append_expected_found(out, d);
  }
  json::append_key(out, "kind");
  json::append_string(out, d.kind);
  if (d.name) {
    json::append_key(out, "name");
    json::append_string(out, *d.name);
  }
  if (d.at) {
    json::append_key(out, "at");
    json::append_position(out, *d.at);
  }
  out += '}';
  writer.spill();
}

// An output that passes what is written to it on as the inside of a JSON
// string, a stretch at a time.
class EscapingOutput : public Output {
 public:
  explicit EscapingOutput(json::Writer& writer) : writer_(writer) {}
  bool write(std::string_view text) override {
    json::append_escaped(writer_.text, text);
    writer_.spill();
    return true;
  }

 private:
  json::Writer& writer_;
};

// The answer as a JSON string: the listing is escaped as it is printed, and
// never sits whole in memory.
void append_answer(json::Writer& writer, const Explanation& explanation) {
  writer.text += '"';
  EscapingOutput escaped(writer);
  if (explanation.error) {
    explanation.error->write_report(escaped);
  } else {
    AssemblyPrinter printer(escaped);
    explanation.replay(printer);
  }
  writer.text += '"';
}

void write_json(const Explanation& explanation, json::Writer& writer, AnswerForm form) {
  std::string& text = writer.text;
  text += explanation.error ? R"({"ok":false)" : R"({"ok":true)";
  json::append_key(text, "answer");
  append_answer(writer, explanation);
  json::append_key(text, "diagnostics");
  writer.text += '[';
  // A validation finding's diagnostic is made as it is written.
  const auto* validation = explanation.error.has_value()
                               ? std::get_if<compile_error::Validation>(&explanation.error->kind)
                               : nullptr;
  if (validation != nullptr) {
    for (std::size_t i = 0; i < validation->errors.size(); ++i) {
      if (i != 0) writer.text += ',';
      append_diagnostic(writer, diagnostic_of(validation->errors[i], explanation.tokens));
    }
  } else {
    for (std::size_t i = 0; i < explanation.diagnostics.size(); ++i) {
      if (i != 0) writer.text += ',';
      append_diagnostic(writer, explanation.diagnostics[i]);
    }
  }
  writer.text += ']';
  if (!explanation.error) {
    json::append_key(text, "lines");
    append_replayed(writer, explanation, [](auto& array, std::size_t i, const Stretch& s) {
      const LabelledInstruction& element = s.elements[i];
      for (const bool label : {true, false}) {
        if (label ? !std::holds_alternative<label::Name>(element.label)
                  : std::holds_alternative<ins::Nop>(element.instruction)) {
          continue;
        }
        std::string& out = array.item();
        append_line_head(out, element, label, s.lines[i]);
        append_why(out, s.why[i]);
        out += '}';
      }
    });
    // Each line before the optimiser with its fate: the final line it
    // became (none when removed), kept or changed. now counts the final
    // lines written so far.
    int64_t now = 0;
    json::append_key(text, "unoptimised");
    append_replayed(writer, explanation, [&](auto& array, std::size_t i, const Stretch& s) {
      const LabelledInstruction& before = s.before[i];
      const LabelledInstruction& after = s.elements[i];
      const bool after_label = std::holds_alternative<label::Name>(after.label);
      const bool after_code = !std::holds_alternative<ins::Nop>(after.instruction);
      for (const bool label : {true, false}) {
        if (label ? !std::holds_alternative<label::Name>(before.label)
                  : std::holds_alternative<ins::Nop>(before.instruction)) {
          continue;
        }
        int64_t becomes = -1;
        if (label && after_label) becomes = now;
        if (!label && after_code) becomes = now + (after_label ? 1 : 0);
        std::string_view fate = "removed";
        if (becomes >= 0) {
          fate = label ? (before.label == after.label ? "kept" : "changed")
                       : (before.instruction == after.instruction ? "kept" : "changed");
        }
        // A data word's line also shows its label's name.
        const bool same =
            fate == "kept" && (label || !is_data(after) || before.label == after.label);
        std::string& out = array.item();
        if (form.kept_by_number && same) {
          json::append_number(out, becomes);
          continue;
        }
        append_line_head(out, before, label, s.lines[i]);
        json::append_key(out, "fate");
        json::append_string(out, fate);
        if (becomes >= 0) {
          json::append_key(out, "becomes");
          json::append_number(out, becomes);
        }
        append_why(out, s.why[i]);
        out += '}';
      }
      now += (after_label ? 1 : 0) + (after_code ? 1 : 0);
    });
  }
  if (explanation.parsed) {
    json::append_key(text, "params");
    json::append_strings(text, explanation.parameters);
  }
  if (!explanation.error) {
    json::append_key(text, "words");
    append_replayed(writer, explanation, [&](auto& array, std::size_t i, const Stretch& s) {
      if (is_data(s.elements[i])) append_word(array.item(), explanation, s.elements[i], s.lines[i]);
    });
  }
  json::append_key(text, "tokens");
  append_tokens(writer, explanation.tokens);
  if (explanation.parsed) {
    json::append_key(text, "tree");
    append_tree(writer, explanation);
  }
  if (!explanation.error) {
    json::append_key(text, "cfg");
    BlockBuilder blocks;
    StretchLines lines(
        [&](const LabelledInstruction& element, bool label) { blocks.line(element, label); });
    explanation.replay(lines);
    append_cfg(writer, blocks.finish());
  }
  if (explanation.parsed) {
    json::append_key(text, "ignored");
    if (explanation.ignored) {
      json::append_position(text, *explanation.ignored);
      text.pop_back();
      json::append_key(text, "message");
      json::append_string(text, ignored_message(*explanation.ignored));
      text += '}';
    } else {
      text += "null";
    }
  }
  text += '}';
}

}  // namespace

std::string explanation_json(const Explanation& explanation) {
  json::Writer writer(nullptr);
  write_json(explanation, writer, {});
  return std::move(writer.text);
}

bool write_explanation_json(const Explanation& explanation, Output& out, AnswerForm form) {
  json::Writer writer(&out);
  write_json(explanation, writer, form);
  return writer.finish();
}

std::string refusal_json(std::string_view reason) {
  return dump(Json{{"error", reason}});
}

}  // namespace quern
