// Source texts of extreme shapes, each as large as fits in a byte budget.
// Used by the stress tests and the benchmarks, at up to the largest body the
// service accepts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "quern_limits.h"

namespace quern::shapes {

inline constexpr std::size_t kMaxBody = kMaxBodyBytes;

struct Shape {
  const char* name;
  std::string (*make)(std::size_t budget);
};

/// head, then as many copies of unit as fit, then tail.
inline std::string repeated(const std::string& head, const std::string& unit,
                            const std::string& tail, std::size_t budget) {
  std::string text = head;
  const std::size_t fixed = head.size() + tail.size();
  const std::size_t count = budget > fixed ? (budget - fixed) / unit.size() : 0;
  text.reserve(budget);
  for (std::size_t i = 0; i < count; ++i) text += unit;
  return text + tail;
}

/// open repeated n times, then middle, then close repeated n times.
inline std::string nested(const std::string& head, const std::string& open,
                          const std::string& middle, const std::string& close,
                          const std::string& tail, std::size_t budget) {
  const std::size_t fixed = head.size() + middle.size() + tail.size();
  const std::size_t count = budget > fixed ? (budget - fixed) / (open.size() + close.size()) : 0;
  std::string text = head;
  text.reserve(budget);
  for (std::size_t i = 0; i < count; ++i) text += open;
  text += middle;
  for (std::size_t i = 0; i < count; ++i) text += close;
  return text + tail;
}

/// x = a+a+...+a; one right-nested chain of operands.
inline std::string longest_chain(std::size_t budget) {
  return repeated("int f(int a) { a = a", "+a", "; return a; }", budget);
}

/// A chain whose operands are all negations: every level spills.
inline std::string spilling_chain(std::size_t budget) {
  return repeated("int f(int a) { a = -a", "+-a", "; return a; }", budget);
}

/// if (a == a) { if (a == a) { ... } } as deep as fits.
inline std::string deepest_if(std::size_t budget) {
  return nested("int f(int a) {", "if(a>a){", "a=a;", "}", "}", budget);
}

/// while (a > a) { while (a > a) { ... } } as deep as fits.
inline std::string deepest_while(std::size_t budget) {
  return nested("int f(int a) {", "while(a>a){", "a=a;", "}", "}", budget);
}

/// a = a; repeated.
inline std::string most_statements(std::size_t budget) {
  return repeated("int f(int a) {", "a=a;", "}", budget);
}

/// if (a > a) { } else { } repeated: two labels and two forward branches each.
inline std::string most_branches(std::size_t budget) {
  return repeated("int f(int a) {", "if(a>a){}else{}", "}", budget);
}

/// A long valid body whose closing brace is missing.
inline std::string syntax_error_at_end(std::size_t budget) {
  return repeated("int f(int a) {", "a=a;", "", budget);
}

/// x = x; with x undeclared: two findings per statement.
inline std::string most_validation_errors(std::size_t budget) {
  return repeated("int f() {", "x=x;", "}", budget);
}

inline const std::vector<Shape>& all() {
  static const std::vector<Shape> shapes = {
      {"longest_chain", longest_chain},
      {"spilling_chain", spilling_chain},
      {"deepest_if", deepest_if},
      {"deepest_while", deepest_while},
      {"most_statements", most_statements},
      {"most_branches", most_branches},
      {"syntax_error_at_end", syntax_error_at_end},
      {"most_validation_errors", most_validation_errors},
  };
  return shapes;
}

}  // namespace quern::shapes
