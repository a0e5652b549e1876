// The machine model: the listing is decoded once into lines with resolved
// word and label indices, so that a step does no text work.
#include "machine.h"

#include <charconv>
#include <initializer_list>

namespace quern {
namespace {

int8_t wrap(int value) {
  return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF));
}

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

std::optional<int> integer(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> Machine::load(std::string_view assembly) {
  *this = Machine{};
  // Operands that name words or labels are resolved once the whole listing is read.
  struct Pending {
    std::size_t line;
    std::string_view name;
    bool is_label;
  };
  std::vector<Pending> pending;
  std::unordered_map<std::string_view, std::size_t> labels;
  std::optional<std::string_view> label;
  auto malformed = [](std::string_view line) { return "malformed line: " + std::string(line); };
  while (!assembly.empty()) {
    const std::size_t end = assembly.find('\n');
    const std::string_view text = assembly.substr(0, end);
    assembly.remove_prefix(end == std::string_view::npos ? assembly.size() : end + 1);
    if (!text.starts_with("    ")) {
      if (text.size() < 2 || text.back() != ':') return malformed(text);
      label = text.substr(0, text.size() - 1);
      labels.emplace(*label, code_.size());
      continue;
    }
    const std::string_view body = text.substr(4);
    const std::size_t blank = body.find(' ');
    const std::string_view op = body.substr(0, blank);
    const std::vector<std::string_view> args = blank == std::string_view::npos
                                                   ? std::vector<std::string_view>{}
                                                   : split_operands(body.substr(blank + 1));
    // Each place of an instruction's form holds one kind of operand, so a
    // word may be named like a register or a mnemonic ("load r0, r1").
    const auto regs_at = [&](std::initializer_list<std::size_t> places) {
      std::vector<uint8_t> regs;
      for (std::size_t place : places) {
        const std::optional<uint8_t> r = register_number(args[place]);
        if (!r) return std::optional<std::vector<uint8_t>>{};
        regs.push_back(*r);
      }
      return std::optional{regs};
    };
    std::optional<std::vector<uint8_t>> regs;
    Line line{Op::Halt};
    if (const std::optional<int> value = integer(op); value && args.empty()) {
      if (!label) return "data word without a name: " + std::string(text);
      line = {Op::Data, 0, 0, 0, words_.size()};
      word_index_.emplace(std::string(*label), words_.size());
      words_.emplace_back(std::string(*label), wrap(*value));
    } else if (op == "halt" && args.empty()) {
      line = {Op::Halt};
    } else if (op == "load" && args.size() == 2 && (regs = regs_at({1}))) {
      line = {Op::Load, (*regs)[0]};
      pending.push_back({code_.size(), args[0], false});
    } else if (op == "store" && args.size() == 2 && (regs = regs_at({0}))) {
      line = {Op::Store, (*regs)[0]};
      pending.push_back({code_.size(), args[1], false});
    } else if ((op == "add" || op == "sub") && args.size() == 3 && (regs = regs_at({0, 1, 2}))) {
      line = {op == "add" ? Op::Add : Op::Sub, (*regs)[0], (*regs)[1], (*regs)[2]};
    } else if (op == "clear" && args.size() == 1 && (regs = regs_at({0}))) {
      line = {Op::Clear, (*regs)[0]};
    } else if (op == "cmp" && args.size() == 2 && (regs = regs_at({0, 1}))) {
      line = {Op::Compare, (*regs)[0], (*regs)[1]};
    } else if ((op == "bgt" || op == "bne" || op == "jump") && args.size() == 1) {
      line = {op == "bgt" ? Op::BranchGreater : op == "bne" ? Op::BranchNotEqual : Op::Jump};
      pending.push_back({code_.size(), args[0], true});
    } else {
      return "cannot execute: " + std::string(text);
    }
    code_.push_back(line);
    label.reset();
  }
  for (const Pending& p : pending) {
    if (p.is_label) {
      const auto it = labels.find(p.name);
      if (it == labels.end()) return "unknown label " + std::string(p.name);
      code_[p.line].target = it->second;
    } else {
      const auto it = word_index_.find(std::string(p.name));
      if (it == word_index_.end()) return "unknown word " + std::string(p.name);
      code_[p.line].target = it->second;
    }
  }
  status_ = Status::Ready;
  error_.clear();
  return std::nullopt;
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
  const Line& line = code_[pc_++];
  ++steps_;
  int8_t* r = registers_;
  switch (line.op) {
    case Op::Load:
      r[line.a] = words_[line.target].second;
      break;
    case Op::Store:
      words_[line.target].second = r[line.a];
      break;
    case Op::Add:
      r[line.d] = wrap(r[line.a] + r[line.b]);
      break;
    case Op::Sub:
      r[line.d] = wrap(r[line.a] - r[line.b]);
      break;
    case Op::Clear:
      r[line.a] = 0;
      break;
    case Op::Compare:
      greater_ = r[line.a] > r[line.b];
      not_equal_ = r[line.a] != r[line.b];
      break;
    case Op::BranchGreater:
      if (greater_) pc_ = line.target;
      break;
    case Op::BranchNotEqual:
      if (not_equal_) pc_ = line.target;
      break;
    case Op::Jump:
      pc_ = line.target;
      break;
    case Op::Halt:
      status_ = Status::Halted;
      break;
    case Op::Data:
      --pc_;
      return fail("ran into the data word " + words_[line.target].first);
  }
  return status_;
}

Machine::Status Machine::run(long max_steps) {
  for (long i = 0; i < max_steps && status_ == Status::Ready; ++i) step();
  return status_;
}

}  // namespace quern
