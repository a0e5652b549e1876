// The machine model: the listing is decoded once into lines with resolved
// word and label indices, so that a step does no text work. Decoding takes
// two passes: the first reads label lines and data words, so that an
// operand may name a label or word defined further down; the second decodes
// the instructions by the table's rows.
#include "machine.h"

#include <charconv>

#include "failure.h"
#include "isa.h"

namespace quern {
namespace {

using isa::kIndex;

int8_t wrap(int value) {
  return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF));
}

// Whether step() gives the alternative at this index a meaning; the table's
// emitted flags must name exactly these, as the machine runs what the
// compiler emits.
constexpr bool handled(std::size_t index) {
  switch (index) {
    case kIndex<ins::Store>:
    case kIndex<ins::Load>:
    case kIndex<ins::Add>:
    case kIndex<ins::Subtract>:
    case kIndex<ins::Clear>:
    case kIndex<ins::Compare>:
    case kIndex<ins::BranchGreater>:
    case kIndex<ins::BranchNotEqual>:
    case kIndex<ins::Jump>:
    case kIndex<ins::Halt>:
    case kIndex<ins::Nop>:
    case kIndex<ins::Value>:
      return true;
    default:
      return false;
  }
}
static_assert(
    [] {
      for (std::size_t i = 0; i < std::size(isa::kRows); ++i) {
        if (isa::kRows[i].emitted != handled(i)) return false;
      }
      return true;
    }(),
    "the machine runs exactly the instructions that src/isa.json marks emitted");

std::vector<std::string_view> split_operands(std::string_view text) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t comma = text.find(", ");
    out.push_back(text.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    text.remove_prefix(comma + 2);
  }
}

std::optional<uint8_t> register_number(std::string_view name) {
  if (name == "r0") return 0;
  if (name == "r1") return 1;
  return std::nullopt;
}

bool blank(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

// A data word's text: an optional "-" and decimal digits.
bool is_value(std::string_view text) {
  if (text.starts_with('-')) text.remove_prefix(1);
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The value of a data word's text, or nothing outside -128..127.
std::optional<int8_t> value_of(std::string_view text) {
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value < -128 || value > 127) {
    return std::nullopt;
  }
  return static_cast<int8_t>(value);
}

std::string quote(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

// The form a row asks for, e.g. "load WORD, REGISTER".
std::string form_text(const isa::Row& row) {
  std::string text(row.mnemonic);
  for (std::size_t k = 0; k < row.arity; ++k) {
    text += k == 0 ? " " : ", ";
    switch (row.places[k]) {
      case isa::Place::Register:
        text += "REGISTER";
        break;
      case isa::Place::Word:
        text += "WORD";
        break;
      case isa::Place::Label:
        text += "LABEL";
        break;
    }
  }
  return text;
}

}  // namespace

std::optional<std::string> Machine::load(std::string_view assembly) {
  *this = Machine{};
  std::optional<std::string> error = decode(assembly);
  if (error) {
    *this = Machine{};
    return error;
  }
  status_ = Status::Ready;
  error_.clear();
  return std::nullopt;
}

std::optional<std::string> Machine::decode(std::string_view assembly) {
  std::vector<std::string_view> lines;
  while (!assembly.empty()) {
    const std::size_t end = assembly.find('\n');
    lines.push_back(assembly.substr(0, end));
    assembly.remove_prefix(end == std::string_view::npos ? assembly.size() : end + 1);
  }
  const auto problem = [](std::size_t i, const std::string& what) {
    return "line " + std::to_string(i + 1) + ": " + what;
  };

  // First pass: label lines and data words. It reads on past a problem, so
  // that the second pass knows every name; its first problem is the load's
  // error unless the second pass finds one on an earlier line.
  std::unordered_map<std::string_view, std::size_t> labels;      // name -> code index
  std::unordered_map<std::string_view, std::size_t> label_line;  // name -> line index
  // The label line above, which names a data word; empty when there is none
  // (a label line has at least one character before its ":").
  std::string_view label;
  std::optional<std::string> first;
  std::size_t first_line = lines.size();
  std::size_t code_size = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = lines[i];
    std::optional<std::string> wrong;
    if (blank(text)) continue;
    const std::string_view above = label;
    label = {};
    if (text.starts_with("    ")) {
      const std::string_view body = text.substr(4);
      if (is_value(body)) {
        const std::optional<int8_t> value = value_of(body);
        if (above.empty()) {
          wrong = "data word " + quote(body) + " has no label";
        } else if (!value) {
          wrong = "data word " + quote(body) + " is not in -128..127";
        } else {
          word_index_.emplace(std::string(above), words_.size());
          words_.emplace_back(std::string(above), *value);
        }
      }
      ++code_size;
    } else if (text.size() >= 2 && text.back() == ':') {
      const std::string_view name = text.substr(0, text.size() - 1);
      if (const auto it = label_line.find(name); it != label_line.end()) {
        wrong = "label " + quote(name) + " is already defined on line " +
                std::to_string(it->second + 1);
      } else {
        labels.emplace(name, code_size);
        label_line.emplace(name, i);
        label = name;
      }
    } else {
      wrong = "malformed line " + quote(text);
    }
    if (wrong && !first) {
      first = problem(i, *wrong);
      first_line = i;
    }
  }

  // Second pass, up to the first pass's problem: each instruction by its row,
  // each operand by the kind of its place.
  std::size_t word = 0;
  for (std::size_t i = 0; i < first_line; ++i) {
    const std::string_view text = lines[i];
    if (blank(text) || !text.starts_with("    ")) continue;
    const std::string_view body = text.substr(4);
    if (is_value(body)) {
      code_.push_back({isa::kIndex<ins::Value>, 0, 0, 0, word++});
      continue;
    }
    const std::size_t blank_at = body.find(' ');
    const std::string_view op = body.substr(0, blank_at);
    const std::vector<std::string_view> args = blank_at == std::string_view::npos
                                                   ? std::vector<std::string_view>{}
                                                   : split_operands(body.substr(blank_at + 1));
    const isa::Row* row = isa::find_mnemonic(op);
    if (row == nullptr) return problem(i, "unknown instruction " + quote(op));
    if (!row->emitted) {
      return problem(i, "the machine does not run " + quote(op) + ": the compiler never emits it");
    }
    if (args.size() != row->arity) return problem(i, "expected " + quote(form_text(*row)));
    Line line{static_cast<uint8_t>(row - isa::kRows)};
    uint8_t* registers[] = {&line.a, &line.b, &line.d};
    std::size_t next_register = 0;
    for (std::size_t k = 0; k < args.size(); ++k) {
      const std::string_view arg = args[k];
      switch (row->places[k]) {
        case isa::Place::Register: {
          const std::optional<uint8_t> r = register_number(arg);
          if (!r) return problem(i, quote(arg) + " is not a register");
          *registers[next_register++] = *r;
          break;
        }
        case isa::Place::Word: {
          const auto it = word_index_.find(std::string(arg));
          if (it == word_index_.end()) return problem(i, "unknown word " + quote(arg));
          line.target = it->second;
          break;
        }
        case isa::Place::Label: {
          const auto it = labels.find(arg);
          if (it == labels.end()) return problem(i, "unknown label " + quote(arg));
          line.target = it->second;
          break;
        }
      }
    }
    code_.push_back(line);
  }
  return first;
}

bool Machine::set_word(std::string_view name, int8_t value) {
  const auto it = word_index_.find(std::string(name));
  if (it == word_index_.end()) return false;
  words_[it->second].second = value;
  return true;
}

std::optional<int8_t> Machine::word(std::string_view name) const {
  const auto it = word_index_.find(std::string(name));
  if (it == word_index_.end()) return std::nullopt;
  return words_[it->second].second;
}

Machine::Status Machine::fail(std::string why) {
  status_ = Status::Failed;
  error_ = std::move(why);
  return status_;
}

Machine::Status Machine::step() {
  if (status_ != Status::Ready) return status_;
  if (pc_ >= code_.size()) return fail("ran off the end of the code");
  const Line& line = code_[pc_];
  std::size_t next = pc_ + 1;
  int8_t* r = registers_;
  switch (line.op) {
    case kIndex<ins::Load>:
      r[line.a] = words_[line.target].second;
      break;
    case kIndex<ins::Store>:
      words_[line.target].second = r[line.a];
      break;
    case kIndex<ins::Add>:
      r[line.d] = wrap(r[line.a] + r[line.b]);
      break;
    case kIndex<ins::Subtract>:
      r[line.d] = wrap(r[line.a] - r[line.b]);
      break;
    case kIndex<ins::Clear>:
      r[line.a] = 0;
      break;
    case kIndex<ins::Compare>:
      greater_ = r[line.a] > r[line.b];
      not_equal_ = r[line.a] != r[line.b];
      break;
    case kIndex<ins::BranchGreater>:
      if (greater_) next = line.target;
      break;
    case kIndex<ins::BranchNotEqual>:
      if (not_equal_) next = line.target;
      break;
    case kIndex<ins::Jump>:
      next = line.target;
      break;
    case kIndex<ins::Halt>:
      status_ = Status::Halted;
      break;
    case kIndex<ins::Nop>:
      break;
    case kIndex<ins::Value>:
      return fail("ran into the data word " + quote(words_[line.target].first));
    default:
      internal_failure("the machine loaded an instruction it does not run: " +
                       std::string(isa::kRows[line.op].mnemonic));
  }
  pc_ = next;
  ++steps_;
  return status_;
}

Machine::Status Machine::run(long max_steps) {
  for (long i = 0; i < max_steps && status_ == Status::Ready; ++i) step();
  return status_;
}

}  // namespace quern
