// The explain answer as JSON text. The members that the answer has always
// had (ok, answer, diagnostics, lines, unoptimised) keep their exact bytes;
// the structure that front ends read instead of parsing text comes after
// them in each object.
#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

#include "cfg.h"
#include "explain.h"
#include "failure.h"
#include "json_text.h"
#include "printer.h"
#include "solid_tokens.h"
#include "why.h"
#include "why_words.h"

namespace quern {

namespace json {

namespace {

// What each byte becomes inside a JSON string: 0 for itself, else the
// character after the backslash, 'u' for the form \u00XX.
constexpr std::array<char, 256> kEscapes = [] {
  std::array<char, 256> escapes{};
  for (std::size_t c = 0; c < 0x20; ++c) escapes[c] = 'u';
  escapes['\b'] = 'b';
  escapes['\f'] = 'f';
  escapes['\n'] = 'n';
  escapes['\r'] = 'r';
  escapes['\t'] = 't';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  return escapes;
}();

// Whether any byte of word needs escaping: a control character, a quote
// or a backslash (bytes from 0x80 never do).
template <class Word>
constexpr bool needs_escape(Word word) {
  constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xff, kHighs = kOnes * 0x80;
  const auto has_zero = [](Word w) { return ((w - kOnes) & ~w & kHighs) != 0; };
  return ((word - kOnes * 0x20) & ~word & kHighs) != 0 || has_zero(word ^ (kOnes * '"')) ||
         has_zero(word ^ (kOnes * '\\'));
}

// Copies the bytes at the start of text that need no escaping to out, a
// word at a time, and returns how many it copied: all of them, or at least
// those before the first byte that needs escaping (none for text under four
// bytes).
std::size_t copy_plain(char* out, const char* text, std::size_t size) {
  if (size >= 8) {
    uint64_t word;
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
      std::memcpy(&word, text + at, 8);
      if (needs_escape(word)) return at;
      std::memcpy(out + at, &word, 8);
    }
    if (at == size) return at;
    // The bytes after the last whole word, in the word that ends the text.
    std::memcpy(&word, text + size - 8, 8);
    if (needs_escape(word)) return at;
    std::memcpy(out + size - 8, &word, 8);
    return size;
  }
  if (size >= 4) {
    uint32_t first, last;
    std::memcpy(&first, text, 4);
    std::memcpy(&last, text + size - 4, 4);
    if (needs_escape(first) || needs_escape(last)) return 0;
    std::memcpy(out, &first, 4);
    std::memcpy(out + size - 4, &last, 4);
    return size;
  }
  return 0;
}

}  // namespace

char* write_escaped(char* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::size_t plain = copy_plain(out, text.data(), text.size());
  out += plain;
  const char* const end = text.data() + text.size();
  for (const char* from = text.data() + plain; from != end; ++from) {
    const auto c = static_cast<unsigned char>(*from);
    const char escape = kEscapes[c];
    if (escape == 0) {
      *out++ = *from;
      continue;
    }
    *out++ = '\\';
    *out++ = escape;
    if (escape == 'u') {
      *out++ = '0';
      *out++ = '0';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
  }
  return out;
}

namespace {

template <class Unsigned>
char* write_digits(char* out, Unsigned n) {
  std::size_t digits = 1;
  for (Unsigned rest = n; rest >= 10; rest /= 10) ++digits;
  char* const last = out + digits;
  for (char* at = last; at != out; n /= 10) *--at = static_cast<char>('0' + n % 10);
  return last;
}

}  // namespace

char* write_number(char* out, int64_t n) {
  auto magnitude = static_cast<uint64_t>(n);
  if (n < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;
  }
  // Numbers of 32 bits, as nearly all are, in 32-bit arithmetic, which is
  // the cheaper in WebAssembly.
  if (magnitude <= UINT32_MAX) return write_digits(out, static_cast<uint32_t>(magnitude));
  return write_digits(out, magnitude);
}

void Writer::grow(std::size_t n) {
  const std::size_t used = this->used();
  const auto size =
      std::max({2 * static_cast<std::size_t>(end_ - buffer_.get()), used + n, 2 * kStretch});
  std::unique_ptr<char[]> larger(new char[size]);
  if (used != 0) std::memcpy(larger.get(), buffer_.get(), used);
  buffer_ = std::move(larger);
  at_ = buffer_.get() + used;
  end_ = buffer_.get() + size;
}

// A long text is escaped a piece at a time, and passed on between pieces,
// so that the buffer holds only a piece of it.
void Writer::escaped(std::string_view text) {
  while (!text.empty()) {
    const std::string_view piece = text.substr(0, kLongText);
    room(piece.size() * kEscapedBound);
    at_ = write_escaped(at_, piece);
    text.remove_prefix(piece.size());
    spill();
  }
}

void Writer::long_string(std::string_view text) {
  put('"');
  escaped(text);
  put('"');
}

void Writer::open_list(std::string_view member) {
  spill();
  put('[');
  list_ = {.member = member, .start = used() - 1, .open = true};
}

// Between two elements of a list in stretches: the stretch ends before the
// next element once it holds its number of elements.
void Writer::stretch_item() {
  ++list_.count;
  if (list_.items - 1 == kSample && list_.step == 0) {
    // The buffer holds the first kSample elements from the list's "[".
    list_.step = std::max(kSample, kBytes * kSample / (used() - list_.start));
  }
  if (list_.step == 0 || list_.count < list_.step) return put(',');
  if (!list_.split) {
    list_.split = true;
    stretches_->head(std::string_view(buffer_.get(), list_.start));
    stretches_->head("[]");
  }
  emit_stretch();
  put('[');
  list_.start = 0;
}

// Hands on the list's elements in the buffer as a stretch, and empties it.
void Writer::emit_stretch() {
  put(']');
  stretches_->stretch(list_.member,
                      std::string_view(buffer_.get() + list_.start, used() - list_.start));
  at_ = buffer_.get();
  list_.count = 0;
}

void Writer::close_list() {
  if (stretches_ != nullptr) {
    if (list_.items != 0) ++list_.count;
    if (!list_.split) {
      put(']');
    } else if (list_.count != 0) {
      emit_stretch();
    } else {
      at_ = buffer_.get();  // the "[" of a stretch that never began
    }
  } else {
    put(']');
  }
  list_ = {};
  spill();
}

void Writer::spill() {
  // A list's text waits until it is known whether it goes in stretches.
  if (used() >= kStretch && !(stretches_ != nullptr && list_.open)) pass_on();
}

bool Writer::finish() {
  pass_on();
  return ok_;
}

// Hands the buffer's text to the output, or to the head; a writer that
// keeps its text whole keeps it.
void Writer::pass_on() {
  const std::string_view text(buffer_.get(), used());
  if (stretches_ != nullptr) {
    if (!text.empty()) stretches_->head(text);
  } else if (output_ != nullptr) {
    ok_ = ok_ && output_->write(text);
  } else {
    return;
  }
  at_ = buffer_.get();
}

std::string Writer::take() {
  std::string text(buffer_.get(), used());
  buffer_.reset();
  at_ = end_ = nullptr;
  return text;
}

void append_string(std::string& out, std::string_view text) {
  const std::size_t size = out.size();
  out.resize(size + text.size() * kEscapedBound + 2);
  char* end = out.data() + size;
  *end++ = '"';
  end = write_escaped(end, text);
  *end++ = '"';
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void append_number(std::string& out, int64_t n) {
  char digits[kNumberBound];
  out.append(digits, write_number(digits, n));
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

bool is_data(const LabelledInstruction& element) {
  return std::holds_alternative<ins::Value>(element.instruction);
}

// Writes the common members of a printed line of element (its label line
// when label, else its instruction line), from "{" up to the members that
// follow them: text, source (the line of the construct, null for none),
// kind and what the kind has. Returns the line's parts.
const ListedLine& write_line_head(json::Writer& w, LineParts& parts,
                                  const LabelledInstruction& element, bool label, int32_t source) {
  const ListedLine& line = parts.of(element, label);
  w.put(R"({"text":)");
  w.string(line.text);
  w.put(R"(,"source":)");
  w.number_or_null(source);
  switch (line.kind) {
    case ListedLine::Kind::Label:
      w.put(R"(,"kind":"label","name":)");
      w.string(line.name);
      if (line.role) {
        w.key("role");
        w.string(label_role_text(*line.role));
      }
      break;
    case ListedLine::Kind::Data:
      w.put(R"(,"kind":"data","name":)");
      w.string(line.name);
      w.key("value");
      w.number(line.value);
      break;
    case ListedLine::Kind::Instruction:
      w.put(R"(,"kind":"instruction","op":)");
      w.string(line.op);
      w.put(R"(,"operands":[)");
      for (std::size_t place = 0; place < line.operand_count; ++place) {
        if (place != 0) w.put(',');
        w.string(line.operands[place]);
      }
      w.put(']');
      break;
  }
  return line;
}

// The member "why" of a line of element: the rule that made it, the node it
// serves, how an operation's operands reached the registers, and the
// optimiser's rule where it changed or removed the element, and all that in
// words.
void write_why(json::Writer& w, Why why, std::string_view text) {
  w.put(R"(,"why":{"rule":)");
  w.string(why::row(why.rule()).name);
  w.key("node");
  if (why.has_node()) {
    w.number(why.node());
  } else {
    w.put("null");
  }
  if (why.pair() != WhyPair::None) {
    w.key("pair");
    w.string(why::row(why.pair()).name);
  }
  if (why.optimiser() != WhyOptimiser::None) {
    w.key("optimiser");
    w.string(why::row(why.optimiser()).name);
  }
  w.key("text");
  w.string(text);
  w.put('}');
}

void write_cfg(json::Writer& w, const Explanation& e) {
  BlockBuilder builder;
  each_element(e, [&](std::size_t i, const Stretch& s) {
    for (const bool label : {true, false}) {
      if (prints_line(s.elements[i], label)) builder.line(s.elements[i], label);
    }
  });
  for (const BasicBlock& block : builder.finish()) {
    w.item();
    w.put(R"({"from":)");
    w.number(static_cast<int64_t>(block.from));
    w.key("to");
    w.number(static_cast<int64_t>(block.to));
    w.key("next");
    w.numbers(block.next);
    // The place in next of the block that control falls through to.
    w.key("fall");
    if (block.falls_through) {
      w.number(static_cast<int64_t>(block.next.size() - 1));
    } else {
      w.put("null");
    }
    w.put('}');
  }
}

void write_words(json::Writer& w, const Explanation& e) {
  each_element(e, [&](std::size_t i, const Stretch& s) {
    const LabelledInstruction& element = s.elements[i];
    if (!is_data(element)) return;
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
    } else if (std::any_of(e.function->parameters.begin(), e.function->parameters.end(),
                           [&](const Parameter& p) { return p.name == name; })) {
      kind = "parameter";
    }
    w.item();
    w.put(R"({"name":)");
    w.string(name);
    w.key("kind");
    w.string(kind);
    w.key("line");
    w.number_or_null(s.lines[i]);
    w.key("value");
    w.number(std::get<ins::Value>(element.instruction).v);
    w.put('}');
  });
}

// The tree from its record, a flat array of nodes in postorder (the root
// last), each naming its children by their places in the array, so that no
// reader needs to recurse as deep as a long chain nests.
void write_tree(json::Writer& w, const Explanation& e, const ReasonWords& words) {
  std::string quote;
  each_tree_node(e, [&](uint32_t index, const TreeNode& node) {
    w.item();
    w.put(R"({"kind":)");
    w.string(node_kind_text(node.kind));
    const SourcePosition start = e.tokens.raw_start(node.first);
    w.key("line");
    w.number(start.line);
    w.key("column");
    w.number(start.column);
    w.key("end");
    w.position(e.tokens.raw_start(node.after));
    if (node.text != TreeNode::kNoText) {
      w.key("text");
      w.string(e.tokens.raw_text(node.text));
    }
    w.put(R"(,"children":[)");
    for (std::size_t k = 0; k < node.children.size(); ++k) {
      if (k != 0) w.put(',');
      w.number(node.children[k]);
    }
    w.put(']');
    quote.clear();
    words.quote(index, quote);
    w.key("quote");
    w.string(quote);
    w.put('}');
  });
}

// A number the grammar rejects, by its cause: "too-large" or "not-decimal".
std::string_view number_problem_text(Cause cause) {
  return cause == Cause::TooLarge ? "too-large" : "not-decimal";
}

void write_tokens(json::Writer& w, const SolidTokens& tokens) {
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    w.item();
    w.put(R"({"text":)");
    w.string(tokens.text(k));
    const SourcePosition start = tokens.start(k);
    w.key("line");
    w.number(start.line);
    w.key("column");
    w.number(start.column);
    w.key("kind");
    w.string(tokens.kind(k));
    if (const std::optional<Cause> problem = tokens.number_problem(k)) {
      w.key("problem");
      w.string(number_problem_text(*problem));
    }
    w.put('}');
  }
}

// A syntax error's causes as structure: what the grammar expected where it
// stopped, and what it found there, each once in the order of the causes
// (the token where it stopped when no cause names what it found).
//   expected: {kind: "token", text} | {kind: "type"} | {kind: "name"} | {kind: "number"}
//   found: {kind: "token" | "blank", text} | {kind: "end"}
//          | {kind: "number", text, problem: "too-large" | "not-decimal"}
void write_expected_found(json::Writer& w, const Diagnostic& d) {
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
        add(found,
            {{"kind", "number"}, {"text", text}, {"problem", number_problem_text(entry.cause)}});
        break;
    }
  }
  // When no cause says what stood there, the token where the parser stopped.
  if (found.empty()) {
    add(found, d.next ? Json{{"kind", "token"}, {"text", *d.next}} : Json{{"kind", "end"}});
  }
  w.key("expected");
  w.put(dump(expected));
  w.key("found");
  w.put(dump(found));
}

void write_diagnostic(json::Writer& w, const Diagnostic& d) {
  w.put(R"({"line":)");
  w.number_or_null(d.line);
  w.put(R"(,"column":)");
  w.number_or_null(d.column);
  w.key("message");
  w.string(d.message);
  if (d.is_syntax) {
    w.put(R"(,"causes":[)");
    for (std::size_t i = 0; i < d.causes.size(); ++i) {
      if (i != 0) w.put(',');
      w.string(d.causes[i]);
    }
    w.put(']');
    write_expected_found(w, d);
  }
  w.key("kind");
  w.string(d.kind);
  if (d.name) {
    w.key("name");
    w.string(*d.name);
  }
  if (d.at) {
    w.key("at");
    w.position(*d.at);
  }
  w.put('}');
}

void write_diagnostics(json::Writer& w, const Explanation& e) {
  e.each_diagnostic([&](const Diagnostic& d) {
    w.item();
    write_diagnostic(w, d);
  });
}

// An output that passes what is written to it on as the inside of a JSON
// string, a stretch at a time.
class EscapingOutput : public Output {
 public:
  explicit EscapingOutput(json::Writer& writer) : writer_(writer) {}
  bool write(std::string_view text) override {
    writer_.escaped(text);
    writer_.spill();
    return true;
  }

 private:
  json::Writer& writer_;
};

// The answer as a JSON string: the listing is escaped as it is printed, and
// never sits whole in memory.
void write_answer_text(json::Writer& w, const Explanation& explanation) {
  w.put('"');
  EscapingOutput escaped(w);
  if (explanation.error) {
    explanation.error->write_report(escaped);
  } else {
    AssemblyPrinter printer(escaped);
    explanation.replay(printer);
  }
  w.put('"');
}

}  // namespace

void json::write_answer(const Explanation& explanation, Writer& w, const AnswerForm& form) {
  w.put(explanation.error ? R"({"ok":false)" : R"({"ok":true)");
  w.key("answer");
  write_answer_text(w, explanation);
  w.open_list("diagnostics");
  write_diagnostics(w, explanation);
  w.close_list();
  std::optional<ReasonWords> words;
  if (explanation.parsed()) words.emplace(explanation);
  if (!explanation.error) {
    LineParts parts, kept_parts;
    std::string text, kept_text;
    w.open_list("lines");
    each_element(explanation, [&](std::size_t i, const Stretch& s) {
      for (const bool label : {true, false}) {
        if (!prints_line(s.elements[i], label)) continue;
        w.item();
        const ListedLine& line = write_line_head(w, parts, s.elements[i], label, s.lines[i]);
        text.clear();
        words->reason(line, s.why[i], Listing::Final, text);
        write_why(w, s.why[i], text);
        w.put('}');
      }
    });
    w.close_list();
    // Each line before the optimiser with its fate: the final line it
    // became (none when removed), kept or changed. now counts the final
    // lines so far.
    int64_t now = 0;
    w.open_list("unoptimised");
    each_element(explanation, [&](std::size_t i, const Stretch& s) {
      const LabelledInstruction& before = s.before[i];
      const LabelledInstruction& after = s.elements[i];
      const bool after_label = prints_line(after, true);
      const bool after_code = prints_line(after, false);
      for (const bool label : {true, false}) {
        if (!prints_line(before, label)) continue;
        int64_t becomes = -1;
        if (label && after_label) becomes = now;
        if (!label && after_code) becomes = now + (after_label ? 1 : 0);
        std::string_view fate = "removed";
        if (becomes >= 0) {
          fate = label ? (before.label == after.label ? "kept" : "changed")
                       : (before.instruction == after.instruction ? "kept" : "changed");
        }
        // A data word's line also shows its label's name.
        bool same = fate == "kept" && (label || !is_data(after) || before.label == after.label);
        text.clear();
        words->reason(parts.of(before, label), s.why[i], Listing::Unoptimised, text);
        if (form.kept_by_number && same) {
          // A label's words name what jumps to it in its own listing.
          kept_text.clear();
          words->reason(kept_parts.of(after, label), s.why[i], Listing::Final, kept_text);
          same = text == kept_text;
        }
        w.item();
        if (form.kept_by_number && same) {
          w.number(becomes);
          continue;
        }
        write_line_head(w, parts, before, label, s.lines[i]);
        w.key("fate");
        w.string(fate);
        if (becomes >= 0) {
          w.key("becomes");
          w.number(becomes);
        }
        write_why(w, s.why[i], text);
        w.put('}');
      }
      now += (after_label ? 1 : 0) + (after_code ? 1 : 0);
    });
    w.close_list();
  }
  if (explanation.parsed()) {
    w.open_list("params");
    for (const Parameter& p : explanation.function->parameters) {
      w.item();
      w.string(p.name);
    }
    w.close_list();
  }
  if (!explanation.error) {
    w.open_list("words");
    write_words(w, explanation);
    w.close_list();
  }
  w.open_list("tokens");
  write_tokens(w, explanation.tokens);
  w.close_list();
  if (explanation.parsed()) {
    w.open_list("tree");
    write_tree(w, explanation, *words);
    w.close_list();
  }
  if (!explanation.error) {
    w.open_list("cfg");
    write_cfg(w, explanation);
    w.close_list();
  }
  if (explanation.parsed()) {
    w.key("ignored");
    if (explanation.ignored) {
      w.put(R"({"line":)");
      w.number(explanation.ignored->line);
      w.put(R"(,"column":)");
      w.number(explanation.ignored->column);
      w.key("message");
      w.string(ignored_message(*explanation.ignored));
      w.put('}');
    } else {
      w.put("null");
    }
  }
  w.put('}');
}

std::string explanation_json(const Explanation& explanation) {
  json::Writer writer;
  json::write_answer(explanation, writer, {});
  return writer.take();
}

bool write_explanation_json(const Explanation& explanation, Output& out, AnswerForm form) {
  json::Writer writer(out);
  json::write_answer(explanation, writer, form);
  return writer.finish();
}

std::string refusal_json(std::string_view reason) {
  return dump(Json{{"error", reason}});
}

}  // namespace quern
