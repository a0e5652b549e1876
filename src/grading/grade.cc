// Grading takes a source and the cases of a case file and gives a verdict per
// case: the source is compiled once, and each case whose inputs fit the
// function runs on a copy of the loaded machine.
#include "grading/grade.h"

#include <optional>
#include <unordered_map>
#include <variant>

#include "failure.h"

namespace quern::cases {
namespace {

// The first finding on one line: "line L, column C: MESSAGE", then a syntax
// error's causes after ": " and "; "; no position for a finding without one.
std::string finding_text(const Explanation& explanation) {
  const std::vector<Diagnostic> findings = explanation.diagnostics();
  if (findings.empty()) internal_failure("a failed compile without findings");
  const Diagnostic& d = findings.front();
  std::string text;
  if (d.line != 0) {
    text = "line " + std::to_string(d.line) + ", column " + std::to_string(d.column) + ": ";
  }
  text += d.message;
  for (std::size_t i = 0; i < d.causes.size(); ++i) text += (i ? "; " : ": ") + d.causes[i];
  return text;
}

}  // namespace

Machine load_compiled(const Explanation& explanation) {
  Machine machine;
  if (std::optional<std::string> error = machine.load(explanation.answer())) {
    internal_failure("the machine cannot load the compiled code: " + *error);
  }
  return machine;
}

Machine::Status run_compiled(Machine& machine, long max_steps) {
  const Machine::Status status = machine.run(max_steps);
  if (status == Machine::Status::Failed) {
    internal_failure("the compiled code failed on the machine: " + machine.error());
  }
  return status;
}

std::vector<Verdict> grade(const Explanation& explanation, const std::vector<Case>& cases,
                           long max_steps) {
  std::vector<Verdict> verdicts;
  if (explanation.error) {
    const Verdict failed{VerdictKind::DoesNotCompile, {{"finding", finding_text(explanation)}}};
    return std::vector<Verdict>(cases.size(), failed);
  }
  const Machine loaded = load_compiled(explanation);
  const std::vector<std::string> parameters = explanation.parameter_names();
  for (const Case& c : cases) {
    auto fit = fit_inputs(c, parameters);
    if (auto* reason = std::get_if<std::string>(&fit)) {
      verdicts.push_back({VerdictKind::InputsDoNotFit, {{"reason", *reason}}});
      continue;
    }
    const std::vector<int8_t>& values = std::get<std::vector<int8_t>>(fit);
    Machine machine = loaded;
    for (std::size_t i = 0; i < values.size(); ++i) machine.set_word(parameters[i], values[i]);
    if (run_compiled(machine, max_steps) != Machine::Status::Halted) {
      verdicts.push_back({VerdictKind::NoHalt, {{"max-steps", max_steps}}});
      continue;
    }
    const int got = machine.word("_RES").value_or(0);
    if (got == c.expected) {
      verdicts.push_back({VerdictKind::Passed, {{"steps", machine.steps()}}});
    } else {
      verdicts.push_back(
          {VerdictKind::ResultDiffers,
           {{"expected", int{c.expected}}, {"got", got}, {"steps", machine.steps()}}});
    }
  }
  return verdicts;
}

std::vector<GradedCase> graded_cases(const std::vector<Case>& visible,
                                     const std::vector<Case>& hidden) {
  std::vector<GradedCase> named;
  for (const Case& c : visible) named.push_back({&c, c.text, false});
  for (std::size_t k = 0; k < hidden.size(); ++k) {
    named.push_back({&hidden[k], "hidden case " + std::to_string(k + 1), true});
  }
  return named;
}

Verdict for_learner(const GradedCase& c, const Verdict& v) {
  if (!c.hidden) return v;
  return {v.passed() ? VerdictKind::Passed : VerdictKind::Failed, nlohmann::ordered_json::object()};
}

std::string grading_json(std::string_view cases_text, const std::optional<std::string_view>& source,
                         long max_steps) {
  using Json = nlohmann::ordered_json;
  const auto parsed = parse_cases(cases_text);
  if (const auto* error = std::get_if<CaseFileError>(&parsed)) {
    return Json{{"error",
                 {{"line", error->line ? Json(error->line) : Json()}, {"message", error->message}}}}
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  const std::vector<Case>& cases = std::get<std::vector<Case>>(parsed);
  Json answer = {{"cases", Json::array()}};
  for (const Case& c : cases) answer["cases"].push_back({{"line", c.line}, {"text", c.text}});
  if (source) {
    const Explanation explanation = explain(*source);
    const std::vector<Verdict> verdicts = grade(explanation, cases, max_steps);
    const std::vector<std::string> parameters = explanation.parameter_names();
    Json& out = answer["verdicts"] = Json::array();
    for (std::size_t i = 0; i < cases.size(); ++i) {
      Json inputs;
      if (!explanation.error) {
        const auto fit = fit_inputs(cases[i], parameters);
        if (const auto* values = std::get_if<std::vector<int8_t>>(&fit)) {
          inputs = Json::array();
          for (std::size_t k = 0; k < values->size(); ++k) {
            inputs.push_back({parameters[k], int{(*values)[k]}});
          }
        }
      }
      const Verdict& v = verdicts[i];
      out.push_back({{"passed", v.passed()},
                     {"message", v.message()},
                     {"details", v.details},
                     {"inputs", std::move(inputs)},
                     {"kind", v.name()}});
    }
  }
  return answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string canonical_listing(const Explanation& explanation) {
  // A name the source chose is a text name; "_RES" is the compiler's.
  static const NameId kResult("_RES");
  std::unordered_map<uint32_t, std::size_t> order;  // NameId bits -> order of appearance
  const auto canonical = [&](Label& l) {
    auto* name = std::get_if<label::Name>(&l);
    if (name == nullptr || name->id.is_generated() || name->id.is_constant() ||
        name->id.is_temporary() || name->id == kResult) {
      return;
    }
    const std::size_t k = order.try_emplace(name->id.bits(), order.size() + 1).first->second;
    l = label::Name(NameId("n" + std::to_string(k)));
  };
  InstructionList list = explanation.listing();
  for (LabelledInstruction& element : list) {
    canonical(element.label);
    std::visit(
        [&](auto& instruction) {
          if constexpr (requires { instruction.l; }) canonical(instruction.l);
        },
        element.instruction);
  }
  return assembly_text(list);
}

}  // namespace quern::cases
