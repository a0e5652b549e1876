// The reports of a grading: submissions against the cases of a case file or
// an exercise, written as TAP, JUnit XML, a results object for course
// platforms (JSON) and one page for the teacher (HTML).
//
// A test is one case on one submission, worth one point. The cases are
// named, and a hidden case's verdict cut down, by the grading
// (cases::graded_cases, cases::for_learner): TAP, JUnit and the results
// object are for learners too, so a hidden case shows its name and whether
// it passed, nothing more. The HTML page is the teacher's and shows it all.
// A submission with text after its function's closing brace has that said
// once in each report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "grading/cases.h"
#include "grading/grade.h"

namespace quern::report {

struct Submission {
  std::string path;
  std::vector<cases::Verdict> verdicts;  // one per case, in the grading's order
  std::size_t passed = 0;
  std::optional<std::string> listing;    // its assembly, when it compiles
  std::optional<std::string> canonical;  // the same with names made canonical
  std::optional<std::string> notice;     // that text after the closing brace is not compiled
};

struct Grading {
  std::string source;                // the case file or exercise file
  std::optional<std::string> title;  // an exercise's title
  std::vector<cases::GradedCase> cases;
  std::vector<Submission> submissions;
};

/// The tests of a grading (every case on every submission), and how many passed.
std::size_t total_tests(const Grading& grading);
std::size_t total_passed(const Grading& grading);

/// TAP version 13: the plan, then per submission its notice as a comment
/// ("# PATH: NOTICE") and per case "ok K - PATH: NAME" or "not ok K - PATH:
/// NAME" with a YAML block of the message and details.
std::string tap(const Grading& grading);

/// JUnit XML: a testsuite per submission, a testcase per case, a failure
/// element with the message and details under each failed case, and the
/// notice in the testsuite's system-err.
std::string junit(const Grading& grading);

/// The results object, one line of JSON:
///   {"source", "title" (null for a case file), "max_score",
///    "submissions": [{"file", "score", "max_score", "notice" (null when none),
///                     "tests": [{"name", "score", "max_score", "status", "output",
///                                "kind"}]}]}
/// status is "passed" or "failed". output is the verdict's message and its
/// details as "KEY: VALUE" lines; kind is the name of its kind, as a learner
/// may read it (a hidden case's: passed or failed).
std::string results_json(const Grading& grading);

/// Two or more submissions (their indices, in order) that compile to the
/// same code: identical, with equal listings, or renamed, with listings that
/// differ only in the names the sources chose.
struct SameCode {
  bool renamed;
  std::vector<std::size_t> members;
};

/// The groups by canonical listing, in the order of their first members:
/// for each, its identical groups, then, when its members have more than one
/// listing, the renamed group of the first member with each listing.
std::vector<SameCode> same_code(const Grading& grading);

/// One self-contained HTML page: a summary, the score distribution as an
/// inline SVG chart, a table of submissions against cases, each case's pass
/// rate with its text (hidden cases too, which the page says it shows), each
/// submission's notice, and the groups of same_code, "identical" or "same
/// code, renamed".
std::string html(const Grading& grading);

}  // namespace quern::report
