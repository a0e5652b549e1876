// The explain answer as JSON text. The members that the answer has always
// had (ok, answer, diagnostics, lines, unoptimised) keep their exact bytes;
// the structure that front ends read instead of parsing text comes after
// them in each object.
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "cfg.h"
#include "explain.h"
#include "failure.h"
#include "json_text.h"
#include "solid_tokens.h"

namespace quern {

namespace json {

void append_string(std::string& out, std::string_view text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
  });
  if (plain) {
    out += '"';
    out += text;
    out += '"';
    return;
  }
  try {
    out += nlohmann::json(std::string(text)).dump();
  } catch (const nlohmann::json::exception& e) {
    // Every text in the answer is valid UTF-8: the source was checked.
    internal_failure(std::string("JSON answer: ") + e.what());
  }
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

using Printed = PrintedLine;

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

// Writes the listing of list, one object per printed line; extra(k, line)
// appends the members that follow the common ones of line k. A line for
// which brief(line) is a number n >= 0 is written as that number instead.
template <class Brief, class Extra>
void append_listing(json::Writer& writer, const InstructionList& list,
                    const std::vector<Printed>& printed, const std::vector<int32_t>& map,
                    const Brief& brief, const Extra& extra) {
  std::string& out = writer.text;
  if (map.size() != list.size()) {
    internal_failure("source map has " + std::to_string(map.size()) + " lines for " +
                     std::to_string(list.size()) + " elements");
  }
  std::string scratch(line_bound(), '\0');
  out += '[';
  for (std::size_t k = 0; k < printed.size(); ++k) {
    const Printed line = printed[k];
    if (k != 0) out += ',';
    if (const int64_t n = brief(line); n >= 0) {
      json::append_number(out, n);
      writer.spill();
      continue;
    }
    const LabelledInstruction& element = list[line.element];
    const char* end = line.label
                          ? write_label_line(scratch.data(), std::get<label::Name>(element.label))
                          : write_instruction_line(scratch.data(), element.instruction);
    const std::string_view text(scratch.data(), static_cast<std::size_t>(end - scratch.data()));
    out += R"({"text":)";
    json::append_string(out, text);
    out += R"(,"source":)";
    const int32_t source = map[line.element];
    out += source == 0 ? std::string("null") : std::to_string(source);
    if (line.label) {
      json::append_key(out, "kind");
      out += R"("label")";
      json::append_key(out, "name");
      json::append_string(out, text.substr(0, text.size() - 1));
      const NameId id = std::get<label::Name>(element.label).id;
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
      // The printed text is the instruction's own: its mnemonic, a blank,
      // then the operands separated by ", " (no name holds a comma).
      const std::string_view body = text.substr(4);
      const std::size_t blank = body.find(' ');
      json::append_key(out, "kind");
      out += R"("instruction")";
      json::append_key(out, "op");
      json::append_string(out, body.substr(0, blank));
      json::append_key(out, "operands");
      out += '[';
      if (blank != std::string_view::npos) {
        std::string_view rest = body.substr(blank + 1);
        for (bool first = true;; first = false) {
          const std::size_t comma = rest.find(", ");
          if (!first) out += ',';
          json::append_string(out, rest.substr(0, comma));
          if (comma == std::string_view::npos) break;
          rest = rest.substr(comma + 2);
        }
      }
      out += ']';
    }
    extra(k, line);
    out += '}';
    writer.spill();
  }
  out += ']';
}

void append_cfg(json::Writer& writer, const InstructionList& list,
                const std::vector<Printed>& printed) {
  std::string& out = writer.text;
  out += '[';
  const std::vector<BasicBlock> blocks = basic_blocks(list, printed);
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (b != 0) out += ',';
    out += R"({"from":)";
    json::append_number(out, static_cast<int64_t>(blocks[b].from));
    json::append_key(out, "to");
    json::append_number(out, static_cast<int64_t>(blocks[b].to));
    json::append_key(out, "next");
    json::append_numbers(out, blocks[b].next);
    out += '}';
    writer.spill();
  }
  out += ']';
}

void append_words(json::Writer& writer, const Explanation& e) {
  std::string& out = writer.text;
  out += '[';
  bool first = true;
  for (std::size_t i = 0; i < e.optimised.size(); ++i) {
    const LabelledInstruction& element = e.optimised[i];
    if (!is_data(element)) continue;
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
    if (!first) out += ',';
    first = false;
    out += R"({"name":)";
    json::append_string(out, name);
    json::append_key(out, "kind");
    json::append_string(out, kind);
    json::append_key(out, "line");
    out += e.lines[i] == 0 ? std::string("null") : std::to_string(e.lines[i]);
    json::append_key(out, "value");
    json::append_number(out, std::get<ins::Value>(element.instruction).v);
    out += '}';
    writer.spill();
  }
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

// The optimised printed line of each element: its label line and its
// instruction line, or -1 where it prints none.
struct LineOf {
  std::vector<int64_t> label, instruction;
};
LineOf line_of(std::size_t elements, const std::vector<Printed>& printed) {
  LineOf of{std::vector<int64_t>(elements, -1), std::vector<int64_t>(elements, -1)};
  for (std::size_t k = 0; k < printed.size(); ++k) {
    (printed[k].label ? of.label : of.instruction)[printed[k].element] = static_cast<int64_t>(k);
  }
  return of;
}

void append_nullable(std::string& out, int32_t n) {
  if (n == 0) {
    out += "null";
  } else {
    json::append_number(out, n);
  }
}

void append_diagnostics(json::Writer& writer, const std::vector<Diagnostic>& diagnostics) {
  std::string& out = writer.text;
  out += '[';
  for (std::size_t i = 0; i < diagnostics.size(); ++i) {
    const Diagnostic& d = diagnostics[i];
    if (i != 0) out += ',';
    out += R"({"line":)";
    append_nullable(out, d.line);
    out += R"(,"column":)";
    append_nullable(out, d.column);
    json::append_key(out, "message");
    json::append_string(out, d.message);
    if (d.is_syntax) {
      json::append_key(out, "causes");
      json::append_strings(out, d.causes);
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
  out += ']';
}

void write_json(const Explanation& explanation, json::Writer& writer, AnswerForm form) {
  std::string& text = writer.text;
  text += explanation.error ? R"({"ok":false)" : R"({"ok":true)";
  json::append_key(text, "answer");
  json::append_string(text, explanation.answer());
  json::append_key(text, "diagnostics");
  append_diagnostics(writer, explanation.diagnostics);
  if (!explanation.error) {
    const std::vector<Printed> optimised = printed_lines(explanation.optimised);
    const std::vector<Printed> unoptimised = printed_lines(explanation.unoptimised);
    json::append_key(text, "lines");
    append_listing(
        writer, explanation.optimised, optimised, explanation.lines,
        [](Printed) { return int64_t{-1}; }, [](std::size_t, Printed) {});
    const LineOf now = line_of(explanation.optimised.size(), optimised);
    // What the optimiser made of a line before it: the final line it became
    // (-1 for none) and its fate.
    const auto fate_of = [&](Printed line) {
      const LabelledInstruction& before = explanation.unoptimised[line.element];
      const LabelledInstruction& after = explanation.optimised[line.element];
      const int64_t becomes = (line.label ? now.label : now.instruction)[line.element];
      std::string_view fate = "removed";
      if (becomes >= 0) {
        fate = line.label ? (before.label == after.label ? "kept" : "changed")
                          : (before.instruction == after.instruction ? "kept" : "changed");
      }
      return std::pair{becomes, fate};
    };
    json::append_key(text, "unoptimised");
    append_listing(
        writer, explanation.unoptimised, unoptimised, explanation.lines,
        [&](Printed line) {
          // A data word's line also shows its label's name.
          const auto [becomes, fate] = fate_of(line);
          const bool same =
              fate == "kept" && (line.label || !is_data(explanation.optimised[line.element]) ||
                                 explanation.unoptimised[line.element].label ==
                                     explanation.optimised[line.element].label);
          return form.kept_by_number && same ? becomes : int64_t{-1};
        },
        [&](std::size_t, Printed line) {
          const auto [becomes, fate] = fate_of(line);
          json::append_key(text, "fate");
          json::append_string(text, fate);
          if (becomes >= 0) {
            json::append_key(text, "becomes");
            json::append_number(text, becomes);
          }
        });
  }
  if (explanation.parsed) {
    json::append_key(text, "params");
    json::append_strings(text, explanation.parameters);
  }
  if (!explanation.error) {
    json::append_key(text, "words");
    append_words(writer, explanation);
  }
  json::append_key(text, "tokens");
  const SolidTokens tokens(explanation.source);
  append_tokens(writer, tokens);
  if (explanation.function) {
    json::append_key(text, "tree");
    write_tree_json(*explanation.function, tokens, writer);
  }
  if (!explanation.error) {
    json::append_key(text, "cfg");
    append_cfg(writer, explanation.optimised, printed_lines(explanation.optimised));
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
