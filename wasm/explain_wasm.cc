// The WebAssembly module's entry points, which quern.mjs calls: the explain
// answer for a source, as the JSON object that POST /explain answers, and
// the grading of a source against case text, as quern --test grades, and
// two versions lined up, as quern --diff --json does. The
// answer leaves the module a stretch at a time through an imported
// function, so that a long one never sits whole in the module's memory,
// which grows to the largest need it meets and never shrinks.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <optional>
#include <string>

#include "diff.h"
#include "explain.h"
#include "grading/grade.h"
#include "json_text.h"
#include "output.h"
#include "quern_limits.h"

extern "C" {
/// Takes the next size bytes of the answer (quern.mjs provides it).
void quern_answer_part(const char* text, std::size_t size);
/// Takes the next stretch of a member's elements (json::Stretches).
void quern_answer_stretch(const char* member, std::size_t member_size, const char* text,
                          std::size_t size);
}

namespace {

class PartOutput : public quern::Output {
 public:
  bool write(std::string_view text) override {
    if (!text.empty()) quern_answer_part(text.data(), text.size());
    return true;
  }
};

class PartStretches : public quern::json::Stretches {
 public:
  void head(std::string_view text) override {
    if (!text.empty()) quern_answer_part(text.data(), text.size());
  }
  void stretch(std::string_view member, std::string_view text) override {
    quern_answer_stretch(member.data(), member.size(), text.data(), text.size());
  }
};

}  // namespace

extern "C" {

/// Explains the source of size bytes at body and hands the JSON object to
/// quern_answer_part. A source over the size limit gets {"error": ...}, as
/// the service refuses it.
EMSCRIPTEN_KEEPALIVE void quern_explain(const char* body, std::size_t size) {
  PartOutput out;
  if (size > quern::kMaxBodyBytes) {
    out.write(quern::refusal_json("Content-Length too large"));
    return;
  }
  quern::write_explanation_json(quern::explain(std::string_view(body, size)), out);
}

/// The same answer for the page: in the short form of AnswerForm, its head
/// handed to quern_answer_part and its long arrays in stretches to
/// quern_answer_stretch.
EMSCRIPTEN_KEEPALIVE void quern_explain_stretched(const char* body, std::size_t size) {
  PartStretches out;
  if (size > quern::kMaxBodyBytes) {
    out.head(quern::refusal_json("Content-Length too large"));
    return;
  }
  quern::json::Writer writer(out);
  quern::json::write_answer(quern::explain(std::string_view(body, size)), writer,
                            {.kept_by_number = true});
  writer.finish();
}

/// Reads the case text of cases_size bytes at cases and, unless source is
/// null, grades the source of source_size bytes against it at the default
/// step limit; hands the JSON
/// object of quern::cases::grading_json to quern_answer_part.
EMSCRIPTEN_KEEPALIVE void quern_grade(const char* cases, std::size_t cases_size, const char* source,
                                      std::size_t source_size) {
  std::optional<std::string_view> graded;
  if (source != nullptr) graded = std::string_view(source, source_size);
  PartOutput().write(
      quern::cases::grading_json({cases, cases_size}, graded, quern::kDefaultStepLimit));
}

/// Lines up two versions' listings as quern --diff --json does, and hands
/// the object to quern_answer_part; a version over the size limit gets
/// {"error": ...}, as the service refuses it, and one that does not
/// compile {"version": "old" or "new", "report": its error report}.
EMSCRIPTEN_KEEPALIVE void quern_diff(const char* old_body, std::size_t old_size,
                                     const char* new_body, std::size_t new_size) {
  PartOutput out;
  if (old_size > quern::kMaxBodyBytes || new_size > quern::kMaxBodyBytes) {
    out.write(quern::refusal_json("Content-Length too large"));
    return;
  }
  const quern::Explanation before = quern::explain(std::string_view(old_body, old_size));
  const quern::Explanation after = quern::explain(std::string_view(new_body, new_size));
  for (const quern::Explanation* e : {&before, &after}) {
    if (!e->error) continue;
    std::string failed =
        e == &before ? R"({"version":"old","report":)" : R"({"version":"new","report":)";
    quern::json::append_string(failed, e->error->report());
    out.write(failed + "}");
    return;
  }
  out.write(quern::diff_json(quern::diff_listings(before, after), std::nullopt));
}

/// The largest source quern_explain compiles, in bytes.
EMSCRIPTEN_KEEPALIVE std::size_t quern_max_body_bytes() {
  return quern::kMaxBodyBytes;
}

}  // extern "C"
