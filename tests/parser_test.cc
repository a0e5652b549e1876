// Token grouping, positions, tree shapes and exact syntax-error reports.
#include "syntax/parser.h"

#include <gtest/gtest.h>

#include <random>

#include "quern.h"
#include "reference_lexer.h"
#include "test_util.h"

namespace quern {
namespace {

using testing::compile_text;
using testing::tree_text;

std::vector<std::string> raw_tokens(std::string_view text) {
  TokenStream stream(text);
  std::vector<std::string> tokens;
  while (std::optional<Token> t = stream.uncons()) tokens.emplace_back(t->text);
  return tokens;
}

std::vector<std::string> tokens(std::string_view text) {
  std::vector<std::string> out;
  ParserState state{SourcePosition{1, 1}, TokenStream(text)};
  for (;;) {
    Reply<Token> r = uncons_token(state);
    if (!r.ok()) break;
    out.emplace_back(r.value->text);
    state = r.state;
  }
  return out;
}

TEST(TokenStream, GroupsCharactersIntoTokens) {
  struct Case {
    const char* text;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a<=b", {"a", "<=", "b"}},
      {"a=<b", {"a", "=", "<", "b"}},
      {"a===b", {"a", "==", "=", "b"}},
      {"!x", {"!", "x"}},
      {"x+=1", {"x", "+", "=", "1"}},
      {"a!=!b", {"a", "!=", "!", "b"}},
      {"café x² _", {"café", "x²", "_"}},
      {"12ab _x9 x_1", {"12ab", "_x9", "x_1"}},
      {"a\u00A0b", {"a", "b"}},  // no-break space separates
      {"a\u3000b", {"a", "b"}},  // ideographic space
      {"/*x*/", {"/", "*", "x", "*", "/"}},
      {"((;;", {"(", "(", ";", ";"}},
      {"x\"y'", {"x", "\"", "y", "'"}},
      {"a\u200Bb", {"a", "\u200B", "b"}},  // zero-width space is not whitespace
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(tokens(c.text), c.tokens) << c.text;
}

TEST(TokenStream, KeepsWhitespaceRunsAsRawTokens) {
  EXPECT_EQ(raw_tokens("a \t\n b"), (std::vector<std::string>{"a", " \t\n ", "b"}));
  EXPECT_EQ(raw_tokens("   "), (std::vector<std::string>{"   "}));
  EXPECT_EQ(raw_tokens("x\u2028\u00A0y"), (std::vector<std::string>{"x", "\u2028\u00A0", "y"}));
}

TEST(TokenStream, CountsLinesAndCharacterColumns) {
  struct Case {
    const char* text;
    SourcePosition after_first_token;
  };
  const Case cases[] = {
      {"abc", {1, 4}},    {"  abc", {1, 6}}, {"\tx", {1, 3}}, {"\rx", {1, 3}}, {"\n\nx", {3, 2}},
      {" \n  x", {2, 4}}, {"é", {1, 2}},     {"😀", {1, 2}},   {"x²", {1, 3}},
  };
  for (const Case& c : cases) {
    Reply<Token> r = uncons_token(ParserState{SourcePosition{1, 1}, TokenStream(c.text)});
    ASSERT_TRUE(r.ok()) << c.text;
    EXPECT_EQ(r.state.position, c.after_first_token) << c.text;
  }
}

// The parser reads a text lexed once; its tokens and positions must be the
// ones the token stream makes on demand, whatever characters are mixed.
TEST(Lex, AgreesWithTheTokenStream) {
  const std::vector<std::string> pieces = {"a",  "_",  "7",  "x9",     "é",      "²", "٣",   " ",
                                           "\t", "\n", "\r", "\u00A0", "\u2028", "=", "!",   "<",
                                           ">",  "+",  "(",  ";",      "\u200B", "😀", "int", "12"};
  std::mt19937 random(12);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
    const std::vector<RawToken> lexed = lex(text);
    ParserState state{SourcePosition{1, 1}, TokenStream(text)};
    std::size_t i = 0;
    for (; i + 1 < lexed.size(); ++i) {
      const RawToken& t = lexed[i];
      ASSERT_EQ((SourcePosition{t.line, t.column}), state.position) << text;
      TokenStream probe = state.stream;
      const std::optional<Token> raw = probe.uncons();
      ASSERT_TRUE(raw) << text;
      ASSERT_EQ(text.substr(t.offset, lexed[i + 1].offset - t.offset), raw->text) << text;
      // Advance the state over this raw token alone.
      const bool space = (t.flags & RawToken::kWhitespace) != 0;
      if (space) {
        for (char c : raw->text) {
          if (c == '\n')
            state.position = {state.position.line + 1, 1};
          else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++state.position.column;
        }
        state.stream = probe;
      } else {
        Reply<Token> r = uncons_token(state);
        ASSERT_TRUE(r.ok()) << text;
        state = r.state;
      }
    }
    EXPECT_FALSE(state.stream.uncons()) << text;
    EXPECT_EQ((SourcePosition{lexed.back().line, lexed.back().column}), state.position) << text;
  }
}

std::string parsed_tree(std::string_view source) {
  std::variant<Function, ParseError> result = parse(source);
  if (auto* f = std::get_if<Function>(&result)) return tree_text(*f);
  return "syntax error";
}

TEST(Parser, BuildsTrees) {
  struct Case {
    const char* source;
    const char* tree;
  };
  const Case cases[] = {
      {"int main() { return 0; }", "Int main() [return@1:13 0]"},
      {"void f(int a, int b) { int x = 1; x = a - b - x; }",
       "Void f(Int a@1:11, Int b@1:18) [int x@1:27=1 x@1:34=(a@1:38 - (b@1:42 - x@1:46))]"},
      {"int f() { x = -y; }", "Int f() [x@1:10=-y@1:16]"},
      {"int f() { x = -5 + 3 - -x; }", "Int f() [x@1:10=(-5 + (3 - -x@1:25))]"},
      {"int f() { if (a < b) { } }", "Int f() [if(a@1:15 < b@1:18)[]]"},
      {"int f() { if (a >= b) { } else { } }", "Int f() [if(a@1:15 >= b@1:19)[]else[]]"},
      {"int f() { if (a <= b) { } }", "Int f() [if(a@1:15 <= b@1:19)[]]"},
      {"int f() { while (a == b) { } while (a != b) { } while (a > b) { } }",
       "Int f() [while(a@1:18 == b@1:22)[] while(a@1:37 != b@1:41)[] while(a@1:56 > b@1:59)[]]"},
      // Declarations come first, keywords are usable as names.
      {"int f() { int int = 5; int a = 007; a = 1; int = a; }",
       "Int f() [int int@1:14=5 int a@1:27=7 a@1:36=1 int@1:43=a@1:49]"},
      {"int f() { return a + b; return c; }",
       "Int f() [return@1:10 (a@1:17 + b@1:21) return@1:24 c@1:31]"},
      // The position of a name is just after the previous token.
      {"int f()\n{\n  x = 1;\n}", "Int f() [x@2:2=1]"},
      {"int f() { int x = 127; }", "Int f() [int x@1:14=127]"},
      // Text after the function is never read.
      {"int f() {} int g() {}", "Int f() []"},
      {"int f() {} @@@ \xC2\xA0", "Int f() []"},
      // Non-ASCII names and separators.
      {"int café(int x²) { return x²; }", "Int café(Int x²@1:13) [return@1:19 x²@1:26]"},
      {"int\u00A0f() {}", "Int f() []"},
      {"int f() { if (a == b) { x = 1; } else { if (a > b) { x = 2; } } }",
       "Int f() [if(a@1:15 == b@1:19)[x@1:24=1]else[if(a@1:45 > b@1:48)[x@1:53=2]]]"},
  };
  for (const Case& c : cases) EXPECT_EQ(parsed_tree(c.source), c.tree) << c.source;
}

// The parser counts places from the text itself, by bytes on ASCII text and
// by characters past it; on long lines of mixed characters every name must
// stand where the lexed text puts the end of the token before it.
TEST(Parser, PlacesNamesWhereTheLexedTextDoes) {
  const std::vector<std::string> names = {"a", "b9", "é", "名前", "x²", "_"};
  const std::vector<std::string> blanks = {"", " ", "\t", "\n", "\u00A0", "\u3000", " \n "};
  std::mt19937 random(34);
  for (int round = 0; round < 200; ++round) {
    const auto any = [&](const std::vector<std::string>& v) { return v[random() % v.size()]; };
    std::string text = "int f() { x =" + any(blanks) + any(names);
    const int operands = static_cast<int>(random() % 400);
    for (int i = 0; i < operands; ++i) text += any(blanks) + "+" + any(blanks) + any(names);
    text += ";}";
    std::vector<SourcePosition> expected;
    const std::vector<RawToken> lexed = lex(text);
    for (std::size_t j = 11; j + 1 < lexed.size(); ++j) {  // the tokens after "="
      if (!(lexed[j].flags & RawToken::kName)) continue;
      const RawToken& at = lexed[j - 1].flags & RawToken::kWhitespace ? lexed[j - 1] : lexed[j];
      expected.push_back({at.line, at.column});
    }
    std::vector<SourcePosition> found;
    const auto parsed = parse(text);
    ASSERT_TRUE(std::holds_alternative<Function>(parsed)) << text;
    const auto& assignment = std::get<stmt::Assignment>(std::get<Function>(parsed).body[0].node);
    for (const Operand& operand : assignment.value.operands) {
      found.push_back(std::get<expr::Variable>(operand.leaf()).position);
    }
    EXPECT_EQ(found, expected) << text;
  }
}

TEST(Parser, ReportsSyntaxErrorsExactly) {
  struct Case {
    const char* source;
    const char* report;
  };
  const Case cases[] = {
      {"", "at line 1, column 1. Possible causes:\n * Unexpected 'end of input'\n"},
      {"   ",
       "at line 1, column 4. Possible causes:\n * Unexpected 'end of input'\n * Unexpected '   "
       "'\n"},
      {"integer main() {}",
       "at line 1, column 1. Possible causes:\n * Expected type name\n * Unexpected 'integer'\n"},
      {"int 2x() {}", "at line 1, column 4. Possible causes:\n * Invalid identifier '2x'\n"},
      {"int main {}", "at line 1, column 9. Possible causes:\n * Expected (\n * Unexpected ' '\n"},
      {"int main(x) {}", "at line 1, column 10. Possible causes:\n * Expected )\n"},
      {"int main() { 5 }", "at line 1, column 13. Possible causes:\n * Expected }\n"},
      {"int main() { return 1 }", "at line 1, column 22. Possible causes:\n * Expected ;\n"},
      {"int main() { x = ; }",
       "at line 1, column 17. Possible causes:\n * Integer literal contains non-numeric "
       "character(s)\n * Unexpected ' '\n * Invalid identifier ';'\n"},
      {"int main() { if (a) { } }",
       "at line 1, column 19. Possible causes:\n * Expected ==\n * Expected !=\n * Expected >=\n"
       " * Expected <=\n * Expected >\n * Expected <\n * Unexpected ')'\n"},
      {"int main() { int x = 300; }",
       "at line 1, column 25. Possible causes:\n * number too large to fit in target type\n"},
      {"int main() { while x }",
       "at line 1, column 19. Possible causes:\n * Expected (\n * Unexpected ' '\n"},
      {"int main() { x = 1 + ; }", "at line 1, column 19. Possible causes:\n * Expected ;\n"},
      {"void main() { return; }",
       "at line 1, column 21. Possible causes:\n * Integer literal contains non-numeric "
       "character(s)\n * Unexpected ';'\n * Invalid identifier ';'\n"},
      {"int main() { x + 1; }", "at line 1, column 15. Possible causes:\n * Expected =\n"},
      {"int f(int a,) {}",
       "at line 1, column 13. Possible causes:\n * Expected type name\n * Unexpected ')'\n"},
      {"int main() {\n", "at line 2, column 1. Possible causes:\n * Unexpected 'end of input'\n"},
      // A whitespace token holding a line break splits its entry over two lines.
      {"int main\n {}",
       "at line 1, column 9. Possible causes:\n * Expected (\n * Unexpected '\n '\n"},
      {"int f(void) {}", "at line 1, column 11. Possible causes:\n * Invalid identifier ')'\n"},
      {"int f() { if = 1; }",
       "at line 1, column 13. Possible causes:\n * Expected (\n * Unexpected ' '\n"},
      {"int f() { x = - -y; }",
       "at line 1, column 16. Possible causes:\n * Integer literal contains non-numeric "
       "character(s)\n * Unexpected ' '\n * Invalid identifier '-'\n"},
      {"int f() { if (a == b) { } else if (a == b) { } }",
       "at line 1, column 31. Possible causes:\n * Expected {\n * Unexpected ' '\n"},
      {"int f() { if (a == b) { } else = 1; }",
       "at line 1, column 31. Possible causes:\n * Expected {\n * Unexpected ' '\n"},
      {"int f() { if (a < b < c) {} }", "at line 1, column 20. Possible causes:\n * Expected )\n"},
      {"int f() { int x = -1; }",
       "at line 1, column 18. Possible causes:\n * Integer literal contains non-numeric "
       "character(s)\n * Unexpected ' '\n"},
      {"int f() { int x = 128; }",
       "at line 1, column 22. Possible causes:\n * number too large to fit in target type\n"},
      // The first problem met digit by digit decides.
      {"int f() { x = 13\u0663; }",
       "at line 1, column 18. Possible causes:\n * invalid digit found in string\n"},
      {"int f() { x = 200\u0663; }",
       "at line 1, column 19. Possible causes:\n * number too large to fit in target type\n"},
      {"int f() { x = \u066399; }",
       "at line 1, column 18. Possible causes:\n * invalid digit found in string\n"},
      // No token left for the integer: end of input alone.
      {"int f() { int x =   ",
       "at line 1, column 21. Possible causes:\n * Unexpected 'end of input'\n"},
      // The missing ";" is reported just after the statement's last token.
      {"int f() { x = 1\n\n  y = 2; }", "at line 1, column 16. Possible causes:\n * Expected ;\n"},
      {"int f() { x = 1 + -; }", "at line 1, column 16. Possible causes:\n * Expected ;\n"},
      {"int f(int a int b) {}", "at line 1, column 12. Possible causes:\n * Expected )\n"},
      {"int", "at line 1, column 4. Possible causes:\n * Unexpected 'end of input'\n"},
      {"{", "at line 1, column 1. Possible causes:\n * Expected type name\n * Unexpected '{'\n"},
      {" \n int f", "at line 2, column 7. Possible causes:\n * Unexpected 'end of input'\n"},
      {"int f() { return x = 1; }", "at line 1, column 19. Possible causes:\n * Expected ;\n"},
      // After the first statement "int" is a name, so "int y" lacks its "=".
      {"int f() { x = 1; int y = 2; }", "at line 1, column 21. Possible causes:\n * Expected =\n"},
  };
  for (const Case& c : cases) {
    std::variant<Function, ParseError> result = parse(c.source);
    ASSERT_TRUE(std::holds_alternative<ParseError>(result)) << c.source;
    EXPECT_EQ(compile_text(c.source), std::string("ERROR Syntax error ") + c.report) << c.source;
  }
}

// A chain's operands grow as one run; a run that outgrows its block moves
// whole, and the pieces after it stay aligned and apart from it.
TEST(TreeArena, RunsStayWholeAcrossBlocks) {
  TreeArena arena(64);
  const int8_t* before = arena.allocate<int8_t>(3);
  Operand* run = nullptr;
  constexpr std::size_t kCount = 200;
  for (std::size_t n = 0; n < kCount; ++n) {
    run = arena.extend<Operand>(run, n);
    std::construct_at(run + n,
                      Operand::literal(static_cast<int8_t>(n % 128), static_cast<NodeIndex>(n)));
  }
  for (std::size_t n = 0; n < kCount; ++n) {
    ASSERT_EQ(std::get<expr::Literal>(run[n].leaf()).value, static_cast<int8_t>(n % 128)) << n;
  }
  const auto* after = arena.allocate<std::max_align_t>(1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(after) % alignof(std::max_align_t), 0u);
  const auto* run_bytes = reinterpret_cast<const std::byte*>(run);
  const auto* after_bytes = reinterpret_cast<const std::byte*>(after);
  EXPECT_TRUE(after_bytes >= run_bytes + kCount * sizeof(Operand) ||
              after_bytes + sizeof(*after) <= run_bytes);
  EXPECT_TRUE(reinterpret_cast<const std::byte*>(before) + 3 <= run_bytes ||
              reinterpret_cast<const std::byte*>(before) >= run_bytes + kCount * sizeof(Operand));
}

TEST(ParseError, MergesByLaterPositionAndDeduplicates) {
  const ErrorEntry expected_x{EntryKind::Expected, "x"};
  const ErrorEntry token_x{EntryKind::Unexpected, "x", true};
  const ErrorEntry text_x{EntryKind::Unexpected, "x", false};
  const ErrorEntry other{EntryKind::Other, "number too large to fit in target type"};

  ParseError a{{1, 5}, {expected_x}};
  ParseError b{{1, 7}, {token_x}};
  EXPECT_EQ(ParseError::merge(a, b).position, (SourcePosition{1, 7}));
  EXPECT_EQ(ParseError::merge(a, b).entries, std::vector<ErrorEntry>{token_x});
  ParseError c{{2, 1}, {expected_x}};
  EXPECT_EQ(ParseError::merge(c, b).position, (SourcePosition{2, 1}));

  // Equal positions: the second's entries follow, without repeats; a token
  // and a text with the same characters are different entries; Other
  // entries are never equal to anything.
  ParseError d{{1, 5}, {token_x, text_x, expected_x, other, other}};
  ParseError merged = ParseError::merge(a, d);
  EXPECT_EQ(merged.position, (SourcePosition{1, 5}));
  ASSERT_EQ(merged.entries.size(), 5u);
  EXPECT_EQ(merged.entries[0], expected_x);
  EXPECT_EQ(merged.entries[1], token_x);
  EXPECT_EQ(merged.entries[2], text_x);
  EXPECT_EQ(merged.entries[3].kind, EntryKind::Other);
  EXPECT_EQ(merged.entries[4].kind, EntryKind::Other);
}

}  // namespace
}  // namespace quern
