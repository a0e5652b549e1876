// Generated programs: the compiled code, run on a model of the machine,
// must compute what the source says; mutated programs must still get a
// well-formed answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include "cgi_run.h"
#include "diff.h"
#include "evaluator.h"
#include "explain.h"
#include "listing.h"
#include "opt.h"
#include "quern.h"
#include "reference_lexer.h"
#include "request.h"
#include "syntax/parser.h"
#include "test_util.h"
#include "trans.h"
#include "why_listing.h"

namespace quern {
namespace {

using testing::Memory;
using testing::RunResult;

constexpr long kSourceSteps = 2000;
constexpr long kMachineSteps = 2000000;

class ProgramGenerator {
 public:
  explicit ProgramGenerator(uint32_t seed) : random_(seed) {}

  std::string program() {
    variables_.clear();
    counters_ = 0;
    std::string text = pick(2) ? "int" : "void";
    returns_ = text == "int";
    text += " f(";
    const int parameters = pick(4);
    for (int i = 0; i < parameters; ++i) {
      const std::string name = std::string(1, static_cast<char>('a' + i));
      text += (i ? ", int " : "int ") + name;
      variables_.push_back(name);
    }
    text += ") {\n";
    const int declarations = pick(4);
    std::string body;
    for (int i = 0; i < declarations; ++i) {
      const std::string name = "v" + std::to_string(i);
      body += "  int " + name + " = " + std::to_string(pick(128)) + ";\n";
      variables_.push_back(name);
    }
    // Loop counters are declared up front and only counted down.
    std::string statements = block(0, 1 + pick(6));
    for (int i = 1; i <= counters_; ++i) {
      body += "  int k" + std::to_string(i) + " = " + std::to_string(pick(4)) + ";\n";
    }
    return text + body + statements + "}\n";
  }

  std::vector<std::string> parameter_names() const {
    std::vector<std::string> names;
    for (const std::string& v : variables_) {
      if (v.size() == 1) names.push_back(v);
    }
    return names;
  }

  int pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }

  // Loops test any condition, not only a counter, for programs that are
  // translated but not run.
  bool any_loop_condition = false;

 private:
  std::string operand() {
    std::string text = pick(4) == 0 ? "-" : "";
    if (variables_.empty() || pick(3) == 0) return text + std::to_string(pick(128));
    return text + variables_[pick(static_cast<int>(variables_.size()))];
  }

  std::string expression() {
    std::string text = operand();
    const int more = pick(5);
    for (int i = 0; i < more; ++i) text += (pick(2) ? " + " : " - ") + operand();
    return text;
  }

  std::string condition() {
    static const char* kOperators[] = {" == ", " != ", " < ", " > ", " <= ", " >= "};
    return expression() + kOperators[pick(6)] + expression();
  }

  std::string block(int depth, int count) {
    std::string text;
    const std::string indent(2 * (depth + 1), ' ');
    for (int i = 0; i < count; ++i) {
      const int kind = pick(depth < 3 ? 6 : 3);
      if (kind == 0 && returns_) {
        text += indent + "return " + expression() + ";\n";
      } else if ((kind <= 2) && !variables_.empty()) {
        text += indent + variables_[pick(static_cast<int>(variables_.size()))] + " = " +
                expression() + ";\n";
      } else if (kind == 3 || kind == 4) {
        text += indent + "if (" + condition() + ") {\n" + block(depth + 1, pick(3)) + indent + "}";
        if (pick(2)) text += " else {\n" + block(depth + 1, pick(3)) + indent + "}";
        text += "\n";
      } else if (kind == 5) {
        const std::string counter = "k" + std::to_string(++counters_);
        const std::string test = any_loop_condition ? condition() : counter + " > 0";
        text += indent + "while (" + test + ") {\n" + block(depth + 1, pick(3)) + indent + "  " +
                counter + " = " + counter + " - 1;\n" + indent + "}\n";
      }
    }
    return text;
  }

  std::mt19937 random_;
  std::vector<std::string> variables_;
  int counters_ = 0;
  bool returns_ = true;
};

struct Checked {
  int compared = 0;
  int skipped = 0;
};

// Runs assembly and source on the same inputs; a failure names the program.
void check_runs(const std::string& source, const Function& function, const std::string& assembly,
                const std::vector<Memory>& inputs, Checked& checked) {
  for (const Memory& in : inputs) {
    RunResult expected = testing::evaluate(function, in, kSourceSteps);
    RunResult actual = testing::run_assembly(assembly, in, kMachineSteps);
    ASSERT_TRUE(actual.error.empty()) << actual.error << "\n" << source << assembly;
    if (!expected.finished) {
      ++checked.skipped;
      continue;
    }
    ASSERT_TRUE(actual.finished) << source << assembly;
    ASSERT_EQ(testing::named_words(actual.memory), expected.memory) << source << assembly;
    ++checked.compared;
  }
}

std::vector<Memory> inputs_for(ProgramGenerator& generator, const std::vector<std::string>& names) {
  std::vector<Memory> inputs(4);
  for (Memory& m : inputs) {
    for (const std::string& n : names) m[n] = static_cast<int8_t>(generator.pick(256) - 128);
  }
  return inputs;
}

// The source map of a generated program, where every statement, keyword and
// declaration starts a line of its own: each code line up to the halt has a
// line of the function, and that line holds the construct that the code
// implements; data words have their declaration's line or none.
void check_map(const std::string& source, const Listing& listing) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < source.size();) {
    const std::size_t end = source.find('\n', at);
    std::string line = source.substr(at, end - at);
    lines.push_back(line.substr(line.find_first_not_of(' ')));
    at = end + 1;
  }
  bool code = true;
  for (const ListingLine& l : listing) {
    const std::string& text = l.text;
    if (!code) {
      const bool named = text.ends_with(":") && text[0] != '#' && text[0] != '.' && text != "_RES:";
      if (named) {
        ASSERT_GE(l.source, 1) << text << "\n" << source;
        const std::string& at = lines[static_cast<std::size_t>(l.source - 1)];
        const std::string name = text.substr(0, text.size() - 1);
        ASSERT_TRUE(at.starts_with("int " + name + " ") ||
                    at.find("int " + name + ",") != std::string::npos ||
                    at.find("int " + name + ")") != std::string::npos)
            << text << " on " << at << "\n"
            << source;
      } else if (text.ends_with(":")) {
        ASSERT_EQ(l.source, 0) << text << "\n" << source;
      }
      continue;
    }
    ASSERT_TRUE(l.source >= 1 && static_cast<std::size_t>(l.source) <= lines.size()) << text << "\n"
                                                                                     << source;
    const std::string& at = lines[static_cast<std::size_t>(l.source - 1)];
    std::string expected;
    if (text == "    halt") {
      expected = "}";
      code = false;
    } else if (text.starts_with("    store r0, ") && text[14] != '.') {
      const std::string name = text.substr(14);
      expected = name == "_RES" ? "return " : name + " = ";
    } else if (text.starts_with("    cmp ")) {
      expected = at.starts_with("if") ? "if (" : "while (";
    } else if (text.ends_with("_w:") || text.ends_with("_ew:") || text.ends_with("_iw:")) {
      expected = "while (";
    } else if (text.ends_with("_t:") || text.ends_with("_ei:")) {
      expected = "if (";
    }
    ASSERT_TRUE(at.starts_with(expected)) << text << " on " << at << "\n" << source;
  }
}

// The optimiser only rewrites elements in place: its listing is the
// unoptimised one, line for line with the same source lines, less the
// branches it removed and the word "#0", and with loads of "#0" as clears.
void check_optimised_map(const std::string& source, const Listing& unoptimised,
                         const Listing& optimised) {
  std::size_t j = 0;
  bool zero_word = false;
  for (const ListingLine& u : unoptimised) {
    if (j < optimised.size() && optimised[j].source == u.source) {
      const std::string& o = optimised[j].text;
      const bool cleared =
          u.text.starts_with("    load #0, ") && o == "    clear " + u.text.substr(13);
      if (o == u.text || cleared) {
        ++j;
        continue;
      }
    }
    const bool branch = u.text.starts_with("    jump ") || u.text.starts_with("    bgt ") ||
                        u.text.starts_with("    bne ");
    ASSERT_TRUE(branch || u.text == "#0:" || (zero_word && u.text == "    0"))
        << "removed " << u.text << "\n"
        << source;
    zero_word = u.text == "#0:";
  }
  ASSERT_EQ(j, optimised.size()) << source;
}

TEST(Property, SourceMapsFitTheSource) {
  ProgramGenerator generator(5);
  for (int round = 0; round < 300; ++round) {
    const std::string source = generator.program();
    const Explanation e = explain(source);
    ASSERT_FALSE(e.error) << source;
    ASSERT_EQ(e.answer(), assembly_text(std::get<InstructionList>(compile(source)))) << source;
    const auto [unoptimised, optimised] = listings(e);
    check_map(source, unoptimised);
    check_map(source, optimised);
    check_optimised_map(source, unoptimised, optimised);
  }
}

// The generated program with its names spelled with combining marks (vowel
// signs, which are alphabetic and so part of a name): "a" becomes "कि".
std::string with_marked_names(const std::string& source) {
  const std::pair<const char*, const char*> spelled[] = {
      {"a", "\u0915\u093f"}, {"b", "b\u093e"}, {"c", "c\u09c1"}, {"d", "\u0926\u093f"}};
  std::string out;
  for (std::size_t i = 0; i < source.size();) {
    std::size_t end = i;
    while (end < source.size() &&
           (std::isalnum(static_cast<unsigned char>(source[end])) || source[end] == '_')) {
      ++end;
    }
    if (end == i) {
      out += source[i++];
      continue;
    }
    std::string word = source.substr(i, end - i);
    for (const auto& [plain, marked] : spelled) {
      if (word == plain) word = marked;
    }
    if ((word[0] == 'v' || word[0] == 'k') && std::isdigit(static_cast<unsigned char>(word[1]))) {
      word += "\u093f";
    }
    out += word;
    i = end;
  }
  return out;
}

// The byte offset of a 1-based line and column (columns count characters).
std::size_t offset_of(const std::string& source, int line, int column) {
  std::size_t at = 0;
  for (int l = 1; l < line; ++l) at = source.find('\n', at) + 1;
  for (int c = 1; c < column; ++c) {
    ++at;
    while (at < source.size() && (static_cast<unsigned char>(source[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

// The structured answer agrees with the source and the listing it comes
// with: the parameters and every token stand where the answer says, the
// tree's leaves are the tokens they name and each node holds its children,
// and the blocks follow the rule: a block starts at the first code line, at
// a label that does not follow a label, and after a jump, a branch or halt.
TEST(Property, StructuredAnswerFitsTheSource) {
  using Json = nlohmann::json;
  ProgramGenerator generator(23);
  for (int round = 0; round < 200; ++round) {
    const std::string source = with_marked_names(generator.program());
    const Json answer = Json::parse(explanation_json(explain(source)));
    ASSERT_TRUE(answer["ok"]) << source;
    std::vector<std::string> params;
    for (const std::string& p : generator.parameter_names()) params.push_back(with_marked_names(p));
    EXPECT_EQ(answer["params"], Json(params)) << source;

    std::string solid;
    for (const Json& t : answer["tokens"]) {
      const std::string text = t["text"];
      solid += text;
      ASSERT_EQ(source.compare(offset_of(source, t["line"], t["column"]), text.size(), text), 0)
          << text << "\n"
          << source;
    }
    std::string without_blanks;
    for (char c : source) {
      if (!std::isspace(static_cast<unsigned char>(c))) without_blanks += c;
    }
    EXPECT_EQ(solid, without_blanks);

    // The nodes come in postorder: each child before its parent, the root
    // (the function, up to its closing brace) last.
    const Json& tree = answer["tree"];
    EXPECT_EQ(tree.back()["kind"], "function");
    for (std::size_t i = 0; i < tree.size(); ++i) {
      const Json& node = tree[i];
      const std::size_t from = offset_of(source, node["line"], node["column"]);
      const std::size_t to = offset_of(source, node["end"]["line"], node["end"]["column"]);
      if (node["kind"] == "variable" || node["kind"] == "literal") {
        EXPECT_EQ(source.substr(from, to - from), node["text"]) << source;
      }
      for (const Json& c : node["children"]) {
        ASSERT_LT(c.get<std::size_t>(), i);
        const Json& child = tree[c.get<std::size_t>()];
        EXPECT_LE(from, offset_of(source, child["line"], child["column"]));
        EXPECT_GE(to, offset_of(source, child["end"]["line"], child["end"]["column"]));
      }
    }
    EXPECT_EQ(source.substr(
                  offset_of(source, tree.back()["end"]["line"], tree.back()["end"]["column"]) - 1),
              "}\n");

    const Json& lines = answer["lines"];
    // The code ends at the first data word's label line.
    std::size_t code = 0;
    while (code < lines.size() && lines[code]["kind"] != "data") ++code;
    if (code < lines.size()) --code;
    std::map<std::string, std::size_t> label_line;
    std::vector<std::size_t> starts;
    for (std::size_t k = 0; k < code; ++k) {
      const Json& line = lines[k];
      const Json* before = k ? &lines[k - 1] : nullptr;
      const bool after_flow =
          before && before->value("op", "") != "" &&
          std::string("jump bgt bne halt").find(before->value("op", "")) != std::string::npos;
      if (k == 0 || (line["kind"] == "label" && (*before)["kind"] != "label") || after_flow) {
        starts.push_back(k);
      }
      if (line["kind"] == "label") label_line[line["name"]] = starts.size() - 1;
    }
    const Json& cfg = answer["cfg"];
    ASSERT_EQ(cfg.size(), starts.size()) << source;
    for (std::size_t b = 0; b < starts.size(); ++b) {
      const std::size_t last = b + 1 < starts.size() ? starts[b + 1] - 1 : code - 1;
      EXPECT_EQ(cfg[b]["from"], starts[b]);
      EXPECT_EQ(cfg[b]["to"], last);
      const std::string op = lines[last].value("op", "");
      Json next = Json::array();
      if (op == "jump" || op == "bgt" || op == "bne") {
        next.push_back(label_line.at(lines[last]["operands"][0]));
      }
      const bool falls = op != "jump" && op != "halt" && b + 1 < starts.size();
      if (falls) next.push_back(b + 1);
      EXPECT_EQ(cfg[b]["next"], next) << "block " << b << "\n" << source;
      EXPECT_EQ(cfg[b]["fall"], falls ? Json(next.size() - 1) : Json()) << "block " << b;
    }
  }
}

// quern --run prints "_RES = V", then each parameter and variable in the
// order of declaration, as the source evaluator computes them.
TEST(Property, RunCommandComputesWhatTheSourceSays) {
  ProgramGenerator generator(13);
  char dir[] = "/tmp/quern_run_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/f.c";
  int compared = 0;
  for (int round = 0; round < 40; ++round) {
    const std::string source = generator.program();
    std::ofstream(path) << source;
    const Function function = std::get<Function>(parse(source));
    const Memory in = inputs_for(generator, generator.parameter_names())[0];
    const RunResult expected = testing::evaluate(function, in, kSourceSteps);
    if (!expected.finished) continue;
    testing::CgiRun run;
    run.program = QUERN_CLI_PATH;
    run.arguments = {"--run", path};
    for (const auto& [name, value] : in)
      run.arguments.push_back(name + "=" + std::to_string(value));
    std::string text =
        "_RES = " +
        std::to_string(expected.memory.contains("_RES") ? expected.memory.at("_RES") : 0) + "\n";
    auto line = [&](std::string_view view) {
      const std::string name(view);
      text += name + " = " + std::to_string(expected.memory.at(name)) + "\n";
    };
    for (const Parameter& p : function.parameters) line(p.name);
    for (const Statement& s : function.body) {
      if (const auto* d = std::get_if<stmt::Declaration>(&s.node)) line(d->name);
    }
    const testing::CgiResult r = testing::run_cgi(run);
    ASSERT_EQ(r.exit_status, 0) << source << r.err;
    ASSERT_EQ(r.out, text) << source;
    ++compared;
  }
  std::filesystem::remove_all(dir);
  EXPECT_GT(compared, 30);
}

// quern --graph draws what the answer's cfg says: a node per block, an edge
// per successor, and Graphviz's dot takes it.
TEST(Property, GraphHasTheBlocksAndEdgesOfTheAnswer) {
  ProgramGenerator generator(29);
  char dir[] = "/tmp/quern_graph_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/f.c";
  for (int round = 0; round < 20; ++round) {
    const std::string source = generator.program();
    std::ofstream(path) << source;
    const nlohmann::json cfg = nlohmann::json::parse(explanation_json(explain(source)))["cfg"];
    testing::CgiRun run;
    run.program = QUERN_CLI_PATH;
    run.arguments = {"--graph", path};
    const testing::CgiResult graph = testing::run_cgi(run);
    ASSERT_EQ(graph.exit_status, 0) << graph.err;
    std::size_t nodes = 0, edges = 0, successors = 0;
    std::istringstream lines(graph.out);
    for (std::string line; std::getline(lines, line);) {
      const bool edge = line.find(" -> ") != std::string::npos;
      nodes += !edge && line.starts_with("  b") && line.find(" [label=") != std::string::npos;
      edges += edge;
    }
    for (const auto& block : cfg) successors += block["next"].size();
    EXPECT_EQ(nodes, cfg.size()) << source;
    EXPECT_EQ(edges, successors) << source;
    testing::CgiRun dot;
    dot.program = "/usr/bin/dot";
    dot.arguments = {"-Tsvg"};
    dot.input = graph.out;
    const testing::CgiResult drawn = testing::run_cgi(dot);
    EXPECT_EQ(drawn.exit_status, 0) << drawn.err << graph.out;
    EXPECT_NE(drawn.out.find("<svg"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

// Grading gives each case the verdict of running it by hand: on generated
// programs, with results that are right or off by one and a step limit that
// some loops do not meet, `quern --test` passes a case exactly when
// `quern --run` of its inputs halts with that result, and its results give
// the verdict the kind of what became of the run.
TEST(Property, GradingGivesEachCaseTheVerdictOfRunningIt) {
  ProgramGenerator generator(29);
  char dir[] = "/tmp/quern_grade_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/f.c";
  const std::string cases_path = std::string(dir) + "/cases";
  const std::string results_path = std::string(dir) + "/results.json";
  const std::string limit = "100";
  int passes = 0, failures = 0, unhalted = 0;
  for (int round = 0; round < 25; ++round) {
    std::ofstream(path) << generator.program();
    const std::vector<std::string> names = generator.parameter_names();
    std::string cases;
    std::vector<bool> verdicts;
    std::vector<std::string> kinds;
    for (const Memory& in : inputs_for(generator, names)) {
      testing::CgiRun run;
      run.program = QUERN_CLI_PATH;
      run.arguments = {"--run", "--json", "--max-steps", limit, path};
      std::string inputs;
      for (const std::string& name : names) {
        run.arguments.push_back(std::to_string(in.at(name)));
        inputs += std::to_string(in.at(name)) + " ";
      }
      const testing::CgiResult r = testing::run_cgi(run);
      ASSERT_TRUE(r.exit_status == 0 || r.exit_status == 3) << r.err;
      const auto json = nlohmann::json::parse(r.out);
      const bool right = generator.pick(2) == 0;
      const int result = json["result"].get<int>();
      cases += inputs + "-> " +
               std::to_string(right ? result : (result == 127 ? -128 : result + 1)) + "\n";
      verdicts.push_back(right && json["halted"].get<bool>());
      kinds.push_back(!json["halted"].get<bool>() ? "no-halt"
                      : right                     ? "passed"
                                                  : "result-differs");
      unhalted += !json["halted"].get<bool>();
    }
    std::ofstream(cases_path) << cases;
    testing::CgiRun grade;
    grade.program = QUERN_CLI_PATH;
    grade.arguments = {"--test", cases_path, "--max-steps", limit, "--results", results_path, path};
    const testing::CgiResult graded = testing::run_cgi(grade);
    std::istringstream tap(graded.out);
    std::vector<bool> got;
    for (std::string line; std::getline(tap, line);) {
      if (line.starts_with("ok ")) got.push_back(true);
      if (line.starts_with("not ok ")) got.push_back(false);
    }
    ASSERT_EQ(got, verdicts) << cases << graded.out;
    const auto results = nlohmann::json::parse(std::ifstream(results_path));
    std::vector<std::string> got_kinds;
    for (const auto& t : results["submissions"][0]["tests"]) got_kinds.push_back(t["kind"]);
    EXPECT_EQ(got_kinds, kinds) << cases;
    const bool all = std::find(got.begin(), got.end(), false) == got.end();
    EXPECT_EQ(graded.exit_status, all ? 0 : 1);
    for (bool v : got) (v ? passes : failures)++;
  }
  std::filesystem::remove_all(dir);
  EXPECT_GT(passes, 10);
  EXPECT_GT(failures, 10);
  EXPECT_GT(unhalted, 3);
}

TEST(Property, CompiledCodeComputesWhatTheSourceSays) {
  ProgramGenerator generator(7);
  Checked translated;
  Checked optimised;
  std::size_t longest_window = 0;
  for (int round = 0; round < 400; ++round) {
    const std::string source = generator.program();
    std::variant<Function, ParseError> parsed = parse(source);
    ASSERT_TRUE(std::holds_alternative<Function>(parsed)) << source;
    const Function& function = std::get<Function>(parsed);
    ASSERT_TRUE(validate_function(function).empty()) << source;
    const std::vector<Memory> inputs = inputs_for(generator, generator.parameter_names());

    InstructionList list = expand_function(function);
    check_runs(source, function, assembly_text(list), inputs, translated);
    // The streaming optimiser against its rules read literally.
    InstructionList plain = list;
    for (LabelledInstruction& e : plain) {
      const label::Name zero("#0");
      if (const auto* load = std::get_if<ins::Load>(&e.instruction);
          load && load->l == Label{zero}) {
        e.instruction = ins::Clear{load->r};
      }
      if (e.label == Label{zero}) e = {label::None{}, ins::Nop{}};
    }
    testing::reference_branch_pass(plain);
    ListSink streamed;
    StreamOptimiser optimiser(streamed);
    ASSERT_TRUE(expand_function_to(function, optimiser));
    ASSERT_EQ(streamed.list, plain) << source;
    longest_window = std::max(longest_window, optimiser.longest_window());
    optimise(list);
    const std::string assembly = assembly_text(list);
    check_runs(source, function, assembly, inputs, optimised);

    CompileResult compiled = compile(source);
    ASSERT_TRUE(std::holds_alternative<InstructionList>(compiled)) << source;
    ASSERT_EQ(assembly_text(std::get<InstructionList>(compiled)), assembly) << source;
  }
  // Translation opens every statement with a real instruction (a while
  // with one label before it), so a wait spans at most a branch, the jump
  // of an empty body, a label, the next construct's label and its load.
  EXPECT_LE(longest_window, 5u);
  // Most runs end within the bound; a property over skipped runs proves nothing.
  EXPECT_GT(translated.compared, 1200);
  EXPECT_GT(optimised.compared, 1200);
}

// An account of the translation, written from the language's rules over the
// answer's tree, apart from the translator: the lines before the optimiser,
// each with the rule that makes it, the node it serves and, for an
// operation or a comparison, how its operands reach the registers.
class TranslationAccount {
 public:
  struct Line {
    std::string text;
    std::string rule;
    nlohmann::json node;  // a place in the tree, or null
    std::string pair;     // "" when none
  };

  explicit TranslationAccount(const nlohmann::json& tree) : tree_(tree) {
    const std::size_t root = tree.size() - 1;
    const nlohmann::json& parts = tree[root]["children"];
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) word(at(parts[i])["text"], 0, parts[i]);
    for (const nlohmann::json& s : at(parts.back())["children"]) statement(s);
    emit("    halt", "halt", root);
    for (const auto& [value, unused] : constants_) {
      data("#" + std::to_string(value), value, nullptr);
    }
    for (const auto& [name, value, node] : words_) data(name, value, node);
    for (int t = 1; t <= temporaries_; ++t) data(".t" + std::to_string(t), 0, nullptr);
  }

  std::vector<Line> lines;

 private:
  const nlohmann::json& at(const nlohmann::json& k) const { return tree_[k.get<std::size_t>()]; }
  std::string kind(const nlohmann::json& k) const { return at(k)["kind"]; }
  const nlohmann::json& child(const nlohmann::json& k, std::size_t i) const {
    return at(k)["children"][i];
  }
  bool simple(const nlohmann::json& k) const {
    return kind(k) == "literal" || kind(k) == "variable";
  }

  void emit(std::string text, std::string rule, nlohmann::json node, std::string pair = "") {
    lines.push_back({std::move(text), std::move(rule), std::move(node), std::move(pair)});
  }
  void word(const std::string& name, int value, nlohmann::json node) {
    for (const auto& w : words_) {
      if (std::get<0>(w) == name) return;
    }
    words_.emplace_back(name, value, node);
  }
  void data(const std::string& name, int value, nlohmann::json node) {
    emit(name + ":", "data", node);
    emit("    " + std::to_string(value), "data", node);
  }
  std::string label(const std::string& suffix) {
    return "_" + std::to_string(++labels_) + "_" + suffix;
  }

  void expression(const nlohmann::json& k, const std::string& target) {
    const std::string type = kind(k);
    if (type == "literal") {
      const std::string digits = at(k)["text"];
      constants_[std::stoi(digits)] = true;
      emit("    load #" + std::to_string(std::stoi(digits)) + ", " + target, "load-constant", k);
    } else if (type == "variable") {
      emit("    load " + at(k)["text"].get<std::string>() + ", " + target, "load-variable", k);
    } else if (type == "negation") {
      expression(child(k, 0), "r1");
      emit("    clear r0", "negate", k);
      emit("    sub r0, r1, " + target, "negate", k);
    } else {
      const std::string pair = operands(child(k, 0), child(k, 1), k);
      emit((type == "addition" ? "    add r0, r1, " : "    sub r0, r1, ") + target, "operate", k,
           pair);
    }
  }

  // first into r0 and second into r1 for node k; returns the pairing.
  std::string operands(const nlohmann::json& first, const nlohmann::json& second,
                       const nlohmann::json& k) {
    if (simple(second)) {
      expression(first, "r0");
      expression(second, "r1");
      return "in-order";
    }
    if (simple(first)) {
      expression(second, "r1");
      expression(first, "r0");
      return "right-first";
    }
    expression(first, "r0");
    const std::size_t store = lines.size();
    emit("", "spill-store", k);
    expression(second, "r1");
    const std::string slot = ".t" + std::to_string(++temporaries_);
    lines[store].text = "    store r0, " + slot;
    emit("    load " + slot + ", r0", "spill-load", k);
    return "spill";
  }

  // The comparison code of compare node c; returns its operator.
  std::string comparison(const nlohmann::json& c) {
    const std::string op = at(c)["text"];
    const bool reversed = op == "<" || op == ">=";  // a < b is b > a, a >= b is b <= a
    const std::string pair = operands(child(c, reversed ? 1 : 0), child(c, reversed ? 0 : 1), c);
    emit("    cmp r0, r1", "compare", c, pair);
    return op;
  }

  void statement(const nlohmann::json& k) {
    const std::string type = kind(k);
    const nlohmann::json& children = at(k)["children"];
    if (type == "declaration") {
      word(at(k)["text"], std::stoi(at(children[0])["text"].get<std::string>()), k);
    } else if (type == "assignment") {
      expression(children[0], "r0");
      emit("    store r0, " + at(k)["text"].get<std::string>(), "assign", k);
    } else if (type == "return") {
      word("_RES", 0, nullptr);
      expression(children[0], "r0");
      emit("    store r0, _RES", "return", k);
    } else if (type == "if") {
      const std::string taken = label("t"), end = label("ei");
      const std::string op = comparison(children[0]);
      const bool greater = op == ">" || op == "<" || op == "<=" || op == ">=";
      const bool then_taken = op == ">" || op == "<" || op == "!=";
      emit(std::string(greater ? "    bgt " : "    bne ") + taken, "branch", k);
      const nlohmann::json none = nlohmann::json::array();
      const nlohmann::json& then_body = at(children[1])["children"];
      const nlohmann::json& else_body = children.size() > 2 ? at(children[2])["children"] : none;
      for (const auto& s : then_taken ? else_body : then_body) statement(s);
      emit("    jump " + end, "jump-to-end", k);
      emit(taken + ":", "label", k);
      for (const auto& s : then_taken ? then_body : else_body) statement(s);
      emit(end + ":", "label", k);
    } else if (type == "while") {
      const std::string head = label("w"), exit = label("ew"), body = label("iw");
      emit(head + ":", "label", k);
      const std::string op = comparison(children[0]);
      if (op == ">" || op == "<") {
        emit("    bgt " + body, "branch", k);
        emit("    jump " + exit, "exit-loop", k);
      } else if (op == "!=") {
        emit("    bne " + body, "branch", k);
        emit("    jump " + exit, "exit-loop", k);
      } else {
        emit((op == "==" ? "    bne " : "    bgt ") + exit, "branch", k);
      }
      emit(body + ":", "label", k);
      for (const auto& s : at(children[1])["children"]) statement(s);
      emit("    jump " + head, "loop-back", k);
      emit(exit + ":", "label", k);
    }
  }

  const nlohmann::json& tree_;
  std::map<int, bool> constants_;
  std::vector<std::tuple<std::string, int, nlohmann::json>> words_;
  int temporaries_ = 0;
  int labels_ = 0;
};

// Every line of both listings says why it is there, as the account of the
// translation has it; the optimiser's rule is on exactly the lines it
// changed or removed, and a line after the optimiser keeps the reason of
// the line it came from.
TEST(Property, EachLineSaysWhyItIsThere) {
  using Json = nlohmann::json;
  ProgramGenerator generator(31);
  generator.any_loop_condition = true;
  std::map<std::string, int> seen;
  for (int round = 0; round < 300; ++round) {
    const std::string source = with_marked_names(generator.program());
    const Json answer = Json::parse(explanation_json(explain(source)));
    ASSERT_TRUE(answer["ok"]) << source;
    const TranslationAccount account(answer["tree"]);
    const Json& unoptimised = answer["unoptimised"];
    ASSERT_EQ(unoptimised.size(), account.lines.size()) << source;
    for (std::size_t k = 0; k < unoptimised.size(); ++k) {
      const Json& line = unoptimised[k];
      const TranslationAccount::Line& expected = account.lines[k];
      const Json& why = line["why"];
      ASSERT_EQ(line["text"], expected.text) << k << "\n" << source;
      EXPECT_EQ(why["rule"], expected.rule) << expected.text << "\n" << source;
      EXPECT_EQ(why["node"], expected.node) << expected.text << "\n" << source;
      EXPECT_EQ(why.value("pair", ""), expected.pair) << expected.text << "\n" << source;
      std::string optimiser;
      const std::string op = line.value("op", "");
      if (line["fate"] == "changed") {
        optimiser = "zero-clear";  // the only change: a load of #0 became a clear
        EXPECT_TRUE(expected.text.starts_with("    load #0, ")) << expected.text;
      } else if (line["fate"] == "removed") {
        optimiser = op == "jump" || op == "bgt" || op == "bne" ? "branch-to-next" : "zero-word";
        if (optimiser == "zero-word") {
          EXPECT_EQ(line["name"], "#0") << expected.text;
        }
      }
      EXPECT_EQ(why.value("optimiser", ""), optimiser) << expected.text << "\n" << source;
      ++seen[expected.rule + " " + expected.pair + " " + optimiser];
      if (line.contains("becomes")) {
        // A label's words name what jumps to it in its own listing.
        Json kept = why, became = answer["lines"][line["becomes"].get<std::size_t>()]["why"];
        if (line["fate"] == "kept") kept.erase("optimiser");
        if (line["kind"] == "label") kept.erase("text"), became.erase("text");
        EXPECT_EQ(became, kept) << source;
      }
    }
  }
  // Every rule, pairing and rule of the optimiser came up.
  for (const char* wanted : {"load-constant  ",
                             "load-constant  zero-clear",
                             "load-variable  ",
                             "negate  ",
                             "operate in-order ",
                             "operate right-first ",
                             "operate spill ",
                             "compare in-order ",
                             "compare right-first ",
                             "compare spill ",
                             "spill-store  ",
                             "spill-load  ",
                             "assign  ",
                             "return  ",
                             "branch  ",
                             "branch  branch-to-next",
                             "jump-to-end  ",
                             "jump-to-end  branch-to-next",
                             "exit-loop  ",
                             "loop-back  ",
                             "label  ",
                             "halt  ",
                             "data  ",
                             "data  zero-word"}) {
    EXPECT_GT(seen[wanted], 0) << wanted;
  }
}

// The words of each line's reason: the answer's are those that quern --why
// prints; a branch's say when it jumps, and that agrees with where it goes;
// a label's quote the lines of its own listing that jump to it, or, where
// the optimiser removed them, those it removed and its rule.
TEST(Property, ReasonsSayWhereAndWhenControlGoes) {
  using Json = nlohmann::json;
  ProgramGenerator generator(47);
  generator.any_loop_condition = true;
  const std::map<std::string, std::function<bool(int, int)>> meaning = {
      {"==", std::equal_to<>()},   {"!=", std::not_equal_to<>()}, {"<", std::less<>()},
      {"<=", std::less_equal<>()}, {">", std::greater<>()},       {">=", std::greater_equal<>()}};
  std::map<std::string, int> seen;
  for (int round = 0; round < 200; ++round) {
    const std::string source = generator.program();
    const Explanation explanation = explain(source);
    const Json answer = Json::parse(explanation_json(explanation));
    ASSERT_TRUE(answer["ok"]) << source;
    const Json& tree = answer["tree"];
    const auto quote = [&](const Json& k) {
      return tree[k.get<std::size_t>()]["quote"].get<std::string>();
    };
    // Where the subtree of node k starts: the tree is in postorder.
    const auto subtree_start = [&](std::size_t k) {
      std::size_t first = k;
      for (std::vector<std::size_t> stack{k}; !stack.empty();) {
        const std::size_t n = stack.back();
        stack.pop_back();
        first = std::min(first, n);
        for (const Json& c : tree[n]["children"]) stack.push_back(c.get<std::size_t>());
      }
      return first;
    };

    // quern --why's reasons, unwrapped, by listing line.
    StringOutput why;
    ASSERT_TRUE(cli::write_why_listing(explanation, why));
    std::vector<std::string> printed;
    std::istringstream lines(why.text());
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("        ; ")) {
        printed.emplace_back();
      } else {
        std::string& reason = printed.back();
        reason += (reason.empty() ? "" : " ") + line.substr(10);
      }
    }
    const Json& final = answer["lines"];
    ASSERT_EQ(printed.size(), final.size()) << source;
    for (std::size_t i = 0; i < final.size(); ++i) {
      // A data word's value line shares its label line's reason.
      const bool shared = printed[i].empty() && final[i]["kind"] == "data";
      EXPECT_EQ(final[i]["why"]["text"], printed[shared ? i - 1 : i]) << i << "\n" << source;
    }

    for (const char* name : {"lines", "unoptimised"}) {
      const Json& listing = answer[name];
      // The lines of this listing that jump to each label, and where each label is.
      std::map<std::string, std::vector<std::string>> jumps;
      std::map<std::string, std::size_t> at;
      for (std::size_t i = 0; i < listing.size(); ++i) {
        const Json& line = listing[i];
        const std::string op = line.value("op", "");
        if (op == "jump" || op == "bgt" || op == "bne") {
          jumps[line["operands"][0]].push_back(line["text"].get<std::string>().substr(4));
        }
        if (line["kind"] == "label") at[line["name"]] = i;
      }
      for (std::size_t i = 0; i < listing.size(); ++i) {
        const Json& line = listing[i];
        const std::string text = line["why"]["text"];
        if (line["why"]["rule"] == "label") {
          // The jumps it quotes are the listing's; where there are none in
          // the printed listing, those that the optimiser removed.
          std::vector<std::string> expected = jumps[line["name"]], quoted;
          std::string removed_by;
          if (expected.empty() && name == std::string("lines")) {
            for (const Json& before : answer["unoptimised"]) {
              if (before.value("op", "") != "" && before["operands"].size() == 1 &&
                  before["operands"][0] == line["name"] && before["fate"] == "removed") {
                expected.push_back(before["text"].get<std::string>().substr(4));
                removed_by = before["why"]["optimiser"];
              }
            }
          }
          for (std::size_t from = 0; (from = text.find('`', from)) != std::string::npos;) {
            const std::size_t to = text.find('`', from + 1);
            const std::string piece = text.substr(from + 1, to - from - 1);
            for (const char* op : {"jump ", "bgt ", "bne "}) {
              if (piece.starts_with(op)) quoted.push_back(piece);
            }
            from = to + 1;
          }
          EXPECT_EQ(quoted, expected) << text << "\n" << source;
          if (!removed_by.empty()) {
            EXPECT_NE(text.find("(" + removed_by + ")"), std::string::npos) << text;
          }
          ++seen[expected.empty()     ? "label none"
                 : removed_by.empty() ? "label jumps"
                                      : "label removed"];
        }
        if (line["why"]["rule"] != "branch" || line.value("fate", "") == "removed") continue;
        // It says when it jumps: the comparison's operands with one operator.
        const Json& statement = tree[line["why"]["node"].get<std::size_t>()];
        const Json& compare = tree[statement["children"][0].get<std::size_t>()];
        const std::string left = quote(compare["children"][0]),
                          right = quote(compare["children"][1]);
        std::string said;
        for (const auto& [op, _] : meaning) {
          if (text.find("when `" + left + " " + op + " " + right + "`") != std::string::npos) {
            EXPECT_TRUE(said.empty()) << text;
            said = op;
          }
        }
        ASSERT_FALSE(said.empty()) << text << "\n" << source;
        // Where it goes: the loop's body or the if's block when the
        // condition holds, else out of the loop or past the block.
        const std::size_t target = at.at(line["operands"][0]);
        const std::string role = listing[target]["role"];
        bool holds = role == "loop-body";
        if (role == "taken") {
          const std::size_t block = statement["children"][1].get<std::size_t>();
          const std::size_t first = subtree_start(block);
          const auto in_block = [&](const Json& l) {
            const Json& k = l["why"]["node"];
            return l["kind"] != "label" && !k.is_null() && k >= first && k <= block;
          };
          // An empty block says nothing of where the branch goes.
          if (std::none_of(listing.begin(), listing.end(), in_block)) continue;
          std::size_t next = target;
          while (listing[next]["kind"] == "label") ++next;
          holds = in_block(listing[next]);
        }
        for (int x = -2; x <= 2; ++x) {
          for (int y = -2; y <= 2; ++y) {
            EXPECT_EQ(meaning.at(said)(x, y), meaning.at(compare["text"])(x, y) == holds)
                << text << "\n"
                << source;
          }
        }
        ++seen[std::string("branch ") + (holds ? "holds " : "opposite ") +
               statement["kind"].get<std::string>()];
      }
    }
  }
  for (const char* wanted : {"label none", "label jumps", "label removed", "branch holds if",
                             "branch opposite if", "branch holds while", "branch opposite while"}) {
    EXPECT_GT(seen[wanted], 0) << wanted;
  }
}

// Edits of valid programs at the token level, and cuts at any byte.
std::string mutate(const std::string& source, ProgramGenerator& generator) {
  std::vector<std::string> tokens;
  TokenStream stream(source);
  while (std::optional<Token> t = stream.uncons()) tokens.emplace_back(t->text);
  static const char* kVocabulary[] = {
      "int", "void", "if",  "else", "while",  "return", "(",  ")", "{",
      "}",   ";",    ",",   "=",    "==",     "<",      ">=", "+", "-",
      "x",   "128",  "007", "é",    "\u0663", " ",      "\n", "@", "_RES"};
  if (tokens.empty()) return source + "int";
  const std::size_t at = static_cast<std::size_t>(generator.pick(static_cast<int>(tokens.size())));
  switch (generator.pick(5)) {
    case 0:
      tokens.erase(tokens.begin() + static_cast<long>(at));
      break;
    case 1:
      tokens.insert(tokens.begin() + static_cast<long>(at), kVocabulary[generator.pick(27)]);
      break;
    case 2:
      tokens.insert(tokens.begin() + static_cast<long>(at), tokens[at]);
      break;
    case 3:
      if (at + 1 < tokens.size()) std::swap(tokens[at], tokens[at + 1]);
      break;
    default: {
      return source.substr(
          0, static_cast<std::size_t>(generator.pick(static_cast<int>(source.size()) + 1)));
    }
  }
  std::string text;
  for (const std::string& t : tokens) text += t;
  return text;
}

TEST(Property, MutatedProgramsGetWellFormedAnswers) {
  ProgramGenerator generator(11);
  Checked checked;
  int compiled = 0;
  for (int round = 0; round < 1500; ++round) {
    std::string source = generator.program();
    const int edits = 1 + generator.pick(3);
    for (int i = 0; i < edits; ++i) source = mutate(source, generator);
    const std::string length = std::to_string(source.size());
    cgi::StringInput input(source);
    StringOutput output;
    const int status = cgi::handle_request(
        [&](const char* name) -> const char* {
          if (std::string_view(name) == "CONTENT_TYPE") return "text/plain; charset=UTF-8";
          return length.c_str();
        },
        input, output);
    ASSERT_EQ(status, 0);
    const std::string& answer = output.text();
    const std::string ok = "Content-Type: text/plain\nStatus: 200 OK\r\n\r\n";
    const std::string bad = "Content-Type: text/plain\nStatus: 400 Bad Request\r\n\r\nERROR ";
    if (answer.rfind(ok, 0) == 0) {
      ++compiled;
      std::variant<Function, ParseError> parsed = parse(source);
      ASSERT_TRUE(std::holds_alternative<Function>(parsed)) << source;
      const Function& function = std::get<Function>(parsed);
      const std::vector<std::string> names = [&] {
        std::vector<std::string> out;
        for (const Parameter& p : function.parameters) out.emplace_back(p.name);
        return out;
      }();
      check_runs(source, function, answer.substr(ok.size()), inputs_for(generator, names), checked);
    } else {
      ASSERT_EQ(answer.rfind(bad, 0), 0u) << source << "\n" << answer;
    }
  }
  // Some mutations keep the program valid (an inserted blank, a swapped
  // operand); those must still compute what the source says.
  EXPECT_GT(compiled, 50);
  EXPECT_GT(checked.compared, 100);
}

// The diff of two versions, as --diff --json gives it, checked against
// their answers: it lists every line of each version once and in order,
// and a kept line is the same line but for the compiler's labels, renamed
// one to one as `labels` says.
nlohmann::json checked_diff(const std::string& before, const std::string& after) {
  using Json = nlohmann::json;
  const Explanation old_e = explain(before), new_e = explain(after);
  const Json diff = Json::parse(diff_json(diff_listings(old_e, new_e), std::nullopt));
  const Json old_lines = Json::parse(explanation_json(old_e))["lines"];
  const Json new_lines = Json::parse(explanation_json(new_e))["lines"];
  const std::string both = before + "---\n" + after;
  std::set<std::string> made;  // the compiler's labels of the old version
  for (const Json& l : old_lines) {
    if (l.contains("role")) made.insert(l["name"]);
  }
  std::map<std::string, std::string> renamed;
  std::set<std::string> renamed_to;
  for (const auto& [from, to] : diff["labels"].items()) {
    EXPECT_TRUE(made.contains(from)) << from << "\n" << both;
    EXPECT_NE(from, to) << both;
    EXPECT_TRUE(renamed_to.insert(to).second) << "two labels renamed " << to << "\n" << both;
    renamed[from] = to;
  }
  const auto name = [&](const std::string& old) {
    return renamed.contains(old) ? renamed[old] : old;
  };
  std::size_t next_old = 0, next_new = 0;
  for (const Json& entry : diff["lines"]) {
    const bool has_old = !entry["old"].is_null(), has_new = !entry["new"].is_null();
    EXPECT_TRUE(has_old || has_new) << both;
    if (has_old) {
      EXPECT_EQ(entry["old"], next_old++) << both;
    }
    if (has_new) {
      EXPECT_EQ(entry["new"], next_new++) << both;
    }
    if (!has_old || !has_new) continue;
    const Json& a = old_lines[entry["old"].get<std::size_t>()];
    const Json& b = new_lines[entry["new"].get<std::size_t>()];
    Json renamed_a = a;
    if (a.contains("role")) {
      renamed_a["name"] = name(a["name"]);
      renamed_a["text"] = name(a["name"]) + ":";
    }
    if (a.contains("operands")) {
      std::string text = "    " + a["op"].get<std::string>();
      for (std::size_t k = 0; k < a["operands"].size(); ++k) {
        const std::string o = a["operands"][k];
        renamed_a["operands"][k] = made.contains(o) ? name(o) : o;
        text += (k ? ", " : " ") + renamed_a["operands"][k].get<std::string>();
      }
      renamed_a["text"] = text;
    }
    for (const char* part : {"text", "kind", "name", "op", "operands", "value"}) {
      EXPECT_EQ(renamed_a.value(part, Json()), b.value(part, Json()))
          << part << ": " << a["text"] << " kept as " << b["text"] << "\n"
          << both;
    }
  }
  EXPECT_EQ(next_old, old_lines.size()) << both;
  EXPECT_EQ(next_new, new_lines.size()) << both;
  return diff;
}

// The generated program with one of its statements, chosen at random,
// removed or written twice; an if or a while goes with its blocks.
std::string edit_statement(const std::string& source, ProgramGenerator& generator) {
  std::vector<std::size_t> starts;  // of lines
  for (std::size_t at = 0; at < source.size(); at = source.find('\n', at) + 1) starts.push_back(at);
  starts.push_back(source.size());
  if (starts.size() < 4) return source;  // no statement
  const auto line = [&](std::size_t k) {
    return std::string_view(source).substr(starts[k], starts[k + 1] - starts[k] - 1);
  };
  const std::size_t first =
      1 + static_cast<std::size_t>(generator.pick(static_cast<int>(starts.size()) - 3));
  std::size_t end = first + 1;
  if (line(first).ends_with("{")) {
    const std::size_t indent = line(first).find_first_not_of(' ');
    while (!(line(end).find_first_not_of(' ') == indent && line(end).ends_with("}"))) ++end;
    ++end;
  }
  const std::string statement = source.substr(starts[first], starts[end] - starts[first]);
  return source.substr(0, starts[first]) + (generator.pick(2) ? statement + statement : "") +
         source.substr(starts[end]);
}

// Under the sanitizers, a fifth of the pairs: they look for memory faults,
// which the first pairs already reach.
constexpr int kDiffRounds = testing::kSanitized ? 50 : 250;

TEST(Property, DiffAccountsForEveryLineOfBothVersions) {
  ProgramGenerator generator(37);
  int pairs = 0;
  for (int round = 0; round < kDiffRounds; ++round) {
    const std::string before = generator.program();
    // The first of a few edits that compiles: of tokens, or of a whole
    // statement, removed or written twice.
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::string after =
          generator.pick(2) ? mutate(before, generator) : edit_statement(before, generator);
      if (explain(after).error) continue;
      checked_diff(before, after);
      checked_diff(after, before);
      ++pairs;
      break;
    }
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(pairs, kDiffRounds * 2 / 5);
}

// A statement inserted before the first one renumbers every label after
// it: still no old line is removed, and the lines added are exactly those
// that the inserted statement's nodes made.
TEST(Property, DiffOfAnInsertedStatementAddsOnlyItsLines) {
  using Json = nlohmann::json;
  ProgramGenerator generator(41);
  generator.any_loop_condition = true;
  for (int round = 0; round < kDiffRounds * 4 / 5; ++round) {
    const std::string before = generator.program();
    // The statements start after the first line and the declarations.
    std::size_t at = before.find('\n') + 1;
    while (before.compare(at, 6, "  int ") == 0) at = before.find('\n', at) + 1;
    const int line = 1 + static_cast<int>(std::count(before.begin(), before.begin() + at, '\n'));
    const std::vector<std::string> names = generator.parameter_names();
    const std::string v = names.empty() ? "0" : names.front();
    const std::string inserted = "  if (" + v + " > 0) {\n" +
                                 (names.empty() ? "" : "    " + v + " = 0 - " + v + ";\n") +
                                 "  }\n";
    const std::string after = before.substr(0, at) + inserted + before.substr(at);
    const Json diff = checked_diff(before, after);
    const Json answer = Json::parse(explanation_json(explain(after)));
    const Json& tree = answer["tree"];
    // The inserted statement and its nodes.
    std::set<int> nodes;
    for (std::size_t k = 0; k < tree.size(); ++k) {
      if (tree[k]["kind"] == "if" && tree[k]["line"] == line) nodes.insert(static_cast<int>(k));
    }
    ASSERT_EQ(nodes.size(), 1u) << after;
    for (std::vector<int> todo(nodes.begin(), nodes.end()); !todo.empty();) {
      const int k = todo.back();
      todo.pop_back();
      for (const Json& child : tree[k]["children"]) {
        nodes.insert(child.get<int>());
        todo.push_back(child);
      }
    }
    std::set<std::size_t> made, added;
    const Json& lines = answer["lines"];
    for (std::size_t k = 0; k < lines.size(); ++k) {
      const Json& node = lines[k]["why"]["node"];
      if (!node.is_null() && nodes.contains(node.get<int>())) made.insert(k);
    }
    for (const Json& entry : diff["lines"]) {
      ASSERT_FALSE(entry["new"].is_null()) << "removed " << entry["old"] << "\n" << after;
      if (entry["old"].is_null()) added.insert(entry["new"].get<std::size_t>());
    }
    ASSERT_EQ(added, made) << before << "---\n" << after;
    ASSERT_FALSE(made.empty());
  }
}

// The alignment of tokens is a common subsequence of equal texts, and the
// longest where the versions differ in a few edits: short stretches, and
// long ones with few edits between them, through their shortest edit.
TEST(Property, TokenAlignmentIsALongestCommonSubsequence) {
  std::mt19937 random(43);
  const std::string_view alphabet[] = {"a", "b", "c", "=", "+", ";"};
  const auto lcs = [](const std::vector<std::string_view>& a,
                      const std::vector<std::string_view>& b) {
    std::vector<std::size_t> row(b.size() + 1, 0), next(b.size() + 1, 0);
    for (std::size_t i = a.size(); i-- > 0; std::swap(row, next)) {
      for (std::size_t j = b.size(); j-- > 0;) {
        next[j] = a[i] == b[j] ? row[j + 1] + 1 : std::max(row[j], next[j + 1]);
      }
    }
    return row[0];
  };
  for (int round = 0; round < 40; ++round) {
    // Short, or long with edits spread through it.
    const std::size_t size = round % 2 ? 1500 : 40;
    std::vector<std::string_view> a(size), b;
    for (std::string_view& t : a) t = alphabet[random() % 6];
    for (const std::string_view t : a) {
      if (random() % 100 < 2) continue;
      if (random() % 100 < 2) b.push_back(alphabet[random() % 6]);
      b.push_back(t);
    }
    const std::vector<std::pair<uint32_t, uint32_t>> pairs = match_tokens(a, b);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      ASSERT_EQ(a[pairs[k].first], b[pairs[k].second]);
      if (k) {
        ASSERT_GT(pairs[k].first, pairs[k - 1].first);
        ASSERT_GT(pairs[k].second, pairs[k - 1].second);
      }
    }
    ASSERT_EQ(pairs.size(), lcs(a, b)) << "round " << round;
  }
}

}  // namespace
}  // namespace quern
