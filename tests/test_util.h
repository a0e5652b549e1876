// Helpers shared by the tests: compact text forms of trees and results.
#pragma once

#include <string>
#include <string_view>

#include "quern.h"
#include "syntax/syntax.h"

namespace quern::testing {

/// Whether the tests run under AddressSanitizer, whose shadow memory and
/// slower code some tests allow for.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

/// Compact tree text: "(a@1:5 + -3)", "If(b@1:8 > a@1:4)[...][...]", ...
std::string tree_text(const Expression& e);
std::string tree_text(const Statement& s);
std::string tree_text(const Function& f);

/// The answer text of a compile result: the assembly, or the report.
std::string answer_text(const CompileResult& result);
/// answer_text of compile(source).
std::string compile_text(std::string_view source);

/// An explain answer cut down to the members it has always had (ok, answer,
/// diagnostics with line, column, message and causes, and lines and
/// unoptimised with text and source), dumped again: those keep their bytes
/// whatever members are added after them.
std::string first_fields(const std::string& json);

/// The redundant-branch rules read literally: a linear search for every
/// target, and sweeps over the whole list until nothing changes.
void reference_branch_pass(InstructionList& list);

}  // namespace quern::testing
