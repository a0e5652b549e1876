// Writes a grading's reports. Each takes the whole grading and returns the
// text; the command line decides where it goes.
#include "report.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "quern.h"

namespace quern::report {
namespace {

// A TAP description on one line: '#' would start a directive, '\' escapes,
// and a line feed or carriage return (a file may be named with one) would
// end the line.
std::string tap_text(const std::string& text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\n') {
      out += "\\n";
    } else if (ch == '\r') {
      out += "\\r";
    } else {
      if (ch == '#' || ch == '\\') out += '\\';
      out += ch;
    }
  }
  return out;
}

// Text for XML or HTML, in attributes and elements alike. Bytes that are not
// UTF-8 (a file name may hold any) become U+FFFD; control characters, which
// neither can carry, become '?'.
std::string markup_text(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const std::size_t valid = valid_utf8_prefix(text);
    for (char ch : text.substr(0, valid)) {
      switch (ch) {
        case '&':
          out += "&amp;";
          break;
        case '<':
          out += "&lt;";
          break;
        case '>':
          out += "&gt;";
          break;
        case '"':
          out += "&quot;";
          break;
        case '\'':
          out += "&apos;";
          break;
        default:
          const bool control = static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n';
          out += control ? '?' : ch;
      }
    }
    if (valid == text.size()) break;
    out += "\xEF\xBF\xBD";
    text.remove_prefix(valid + 1);
  }
  return out;
}

// A verdict's details, one "KEY: VALUE" line each, strings written as YAML
// double-quoted scalars.
std::string detail_lines(const cases::Verdict& v, const std::string& indent) {
  std::string text;
  for (const auto& [key, value] : v.details.items()) {
    text += indent + key + ": " +
            value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }
  return text;
}

// A verdict's message and its details as "KEY: VALUE" lines.
std::string output_text(const cases::Verdict& v) {
  const std::string details = detail_lines(v, "");
  return details.empty() ? v.message() : v.message() + "\n" + details.substr(0, details.size() - 1);
}

std::string percent(std::size_t part, std::size_t whole) {
  return std::to_string(whole == 0 ? 0 : (200 * part + whole) / (2 * whole)) + "%";
}

// The score distribution: a bar per score from 0 to the maximum, its
// height the number of submissions with that score.
std::string score_chart(const Grading& grading) {
  const std::size_t max_score = grading.cases.size();
  std::vector<std::size_t> counts(max_score + 1, 0);
  for (const Submission& s : grading.submissions) ++counts[s.passed];
  const std::size_t highest = *std::max_element(counts.begin(), counts.end());
  const std::size_t bar = std::clamp<std::size_t>(600 / (max_score + 1), 6, 40);
  const std::size_t left = 40;
  const std::size_t top = 20;
  const std::size_t height = 150;
  const std::size_t width = left + bar * (max_score + 1) + 10;
  // Every score is labelled when there is room, else every few.
  const std::size_t label_every = (30 + bar - 1) / bar;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(top + height + 40) +
                    "\" role=\"img\" aria-labelledby=\"chart-title\">\n<title id=\"chart-title\">"
                    "Submissions by score, 0 to " +
                    std::to_string(max_score) + "</title>\n";
  const auto line = [&](std::size_t x1, std::size_t y1, std::size_t x2, std::size_t y2) {
    svg += "<line x1=\"" + std::to_string(x1) + "\" y1=\"" + std::to_string(y1) + "\" x2=\"" +
           std::to_string(x2) + "\" y2=\"" + std::to_string(y2) + "\" stroke=\"#555\"/>\n";
  };
  line(left, top, left, top + height);
  line(left, top + height, width - 10, top + height);
  svg += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + 4) +
         "\" text-anchor=\"end\">" + std::to_string(highest) + "</text>\n";
  svg += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + height) +
         "\" text-anchor=\"end\">0</text>\n";
  for (std::size_t score = 0; score <= max_score; ++score) {
    const std::size_t x = left + score * bar;
    const std::size_t h = highest == 0 ? 0 : counts[score] * height / highest;
    const std::string count = std::to_string(counts[score]);
    svg += "<rect x=\"" + std::to_string(x + 1) + "\" y=\"" + std::to_string(top + height - h) +
           "\" width=\"" + std::to_string(bar - 2) + "\" height=\"" + std::to_string(h) +
           "\" fill=\"#3b6ea5\"><title>score " + std::to_string(score) + ": " + count +
           (counts[score] == 1 ? " submission" : " submissions") + "</title></rect>\n";
    if (counts[score] != 0 && bar >= 14) {
      svg += "<text x=\"" + std::to_string(x + bar / 2) + "\" y=\"" +
             std::to_string(top + height - h - 4) + "\" text-anchor=\"middle\">" + count +
             "</text>\n";
    }
    if (score % label_every == 0 || score == max_score) {
      svg += "<text x=\"" + std::to_string(x + bar / 2) + "\" y=\"" +
             std::to_string(top + height + 16) + "\" text-anchor=\"middle\">" +
             std::to_string(score) + "</text>\n";
    }
  }
  svg += "<text x=\"" + std::to_string(left + bar * (max_score + 1) / 2) + "\" y=\"" +
         std::to_string(top + height + 34) + "\" text-anchor=\"middle\">score</text>\n";
  return svg + "</svg>\n";
}

const char* const kStyle =
    "body{font:15px/1.4 system-ui,sans-serif;margin:2em;color:#222}"
    "table{border-collapse:collapse;margin:1em 0}"
    "th,td{border:1px solid #ccc;padding:.2em .5em;text-align:center;white-space:nowrap}"
    "th.file,td.case{text-align:left}"
    "td.pass{background:#dff0d8}td.fail{background:#f2dede}"
    "code{white-space:pre}svg text{font-size:12px}"
    ".rate{display:inline-block;height:.8em;background:#3b6ea5}";

}  // namespace

std::size_t total_tests(const Grading& grading) {
  return grading.cases.size() * grading.submissions.size();
}

std::size_t total_passed(const Grading& grading) {
  std::size_t passed = 0;
  for (const Submission& s : grading.submissions) passed += s.passed;
  return passed;
}

std::string tap(const Grading& grading) {
  std::string text = "TAP version 13\n1.." + std::to_string(total_tests(grading)) + "\n";
  std::size_t number = 0;
  for (const Submission& s : grading.submissions) {
    if (s.notice) text += "# " + tap_text(s.path) + ": " + tap_text(*s.notice) + "\n";
    for (std::size_t i = 0; i < grading.cases.size(); ++i) {
      const cases::Verdict v = cases::for_learner(grading.cases[i], s.verdicts[i]);
      text += std::string(v.passed() ? "ok " : "not ok ") + std::to_string(++number) + " - " +
              tap_text(s.path) + ": " + tap_text(grading.cases[i].name) + "\n";
      if (v.passed()) continue;
      text += "  ---\n  message: " + v.message() + "\n" + detail_lines(v, "  ") + "  ...\n";
    }
  }
  return text;
}

std::string junit(const Grading& grading) {
  const std::size_t total = total_tests(grading);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"quern --test\" tests=\"" + std::to_string(total) + "\" failures=\"" +
         std::to_string(total - total_passed(grading)) + "\">\n";
  for (const Submission& s : grading.submissions) {
    const std::string name = markup_text(s.path);
    xml += "  <testsuite name=\"" + name + "\" tests=\"" + std::to_string(s.verdicts.size()) +
           "\" failures=\"" + std::to_string(s.verdicts.size() - s.passed) + "\">\n";
    for (std::size_t i = 0; i < grading.cases.size(); ++i) {
      const cases::Verdict v = cases::for_learner(grading.cases[i], s.verdicts[i]);
      xml += "    <testcase classname=\"" + name + "\" name=\"" +
             markup_text(grading.cases[i].name) + "\"";
      if (v.passed()) {
        xml += "/>\n";
        continue;
      }
      xml += ">\n      <failure message=\"" + markup_text(v.message()) + "\">" +
             markup_text(detail_lines(v, "")) + "</failure>\n    </testcase>\n";
    }
    if (s.notice) xml += "    <system-err>" + markup_text(*s.notice) + "</system-err>\n";
    xml += "  </testsuite>\n";
  }
  return xml + "</testsuites>\n";
}

std::string results_json(const Grading& grading) {
  using Json = nlohmann::ordered_json;
  Json submissions = Json::array();
  for (const Submission& s : grading.submissions) {
    Json tests = Json::array();
    for (std::size_t i = 0; i < grading.cases.size(); ++i) {
      const cases::Verdict v = cases::for_learner(grading.cases[i], s.verdicts[i]);
      tests.push_back({{"name", grading.cases[i].name},
                       {"score", v.passed() ? 1 : 0},
                       {"max_score", 1},
                       {"status", v.passed() ? "passed" : "failed"},
                       {"output", output_text(v)},
                       {"kind", v.name()}});
    }
    submissions.push_back({{"file", s.path},
                           {"score", s.passed},
                           {"max_score", grading.cases.size()},
                           {"notice", s.notice ? Json(*s.notice) : Json()},
                           {"tests", std::move(tests)}});
  }
  const Json results = {{"source", grading.source},
                        {"title", grading.title ? Json(*grading.title) : Json()},
                        {"max_score", grading.cases.size()},
                        {"submissions", std::move(submissions)}};
  return results.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::vector<SameCode> same_code(const Grading& grading) {
  // Per canonical listing, the submissions by listing, first listed first.
  std::map<std::string_view, std::size_t> family_of;  // canonical listing -> family
  std::map<std::string_view, std::size_t> copies_of;  // listing -> its set in its family
  std::vector<std::vector<std::vector<std::size_t>>> families;
  for (std::size_t i = 0; i < grading.submissions.size(); ++i) {
    const Submission& s = grading.submissions[i];
    if (!s.canonical) continue;
    const auto [family, fresh] = family_of.try_emplace(*s.canonical, families.size());
    if (fresh) families.emplace_back();
    std::vector<std::vector<std::size_t>>& sets = families[family->second];
    const auto [set, new_listing] = copies_of.try_emplace(*s.listing, sets.size());
    if (new_listing) sets.emplace_back();
    sets[set->second].push_back(i);
  }
  std::vector<SameCode> groups;
  for (const std::vector<std::vector<std::size_t>>& sets : families) {
    SameCode renamed{true, {}};
    for (const std::vector<std::size_t>& copies : sets) {
      if (copies.size() > 1) groups.push_back({false, copies});
      renamed.members.push_back(copies.front());
    }
    if (renamed.members.size() > 1) groups.push_back(std::move(renamed));
  }
  return groups;
}

std::string html(const Grading& grading) {
  const std::size_t max_score = grading.cases.size();
  const std::size_t n = grading.submissions.size();
  const std::string heading = markup_text(grading.title.value_or(grading.source));
  std::size_t hidden = 0;
  for (const cases::GradedCase& c : grading.cases) hidden += c.hidden ? 1 : 0;
  std::size_t full = 0;
  for (const Submission& s : grading.submissions) full += s.passed == max_score ? 1 : 0;

  std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  page += "<title>" + heading + ": grading report</title>\n<style>" + kStyle +
          "</style>\n</head>\n<body>\n";
  page += "<h1>" + heading + "</h1>\n<p>From " + markup_text(grading.source) + ": " +
          std::to_string(n) + (n == 1 ? " submission, " : " submissions, ") +
          std::to_string(max_score) + (max_score == 1 ? " case" : " cases") +
          (hidden ? " (" + std::to_string(hidden) + " hidden)" : "") + ", a point each. " +
          std::to_string(full) + " of " + std::to_string(n) + " pass every case; " +
          percent(total_passed(grading), total_tests(grading)) + " of all tests pass.</p>\n";
  if (hidden) {
    page +=
        "<p>This page is for the teacher: it shows the hidden cases' inputs, expected results "
        "and outputs, which the reports for learners (TAP, JUnit and the results object) hold "
        "back.</p>\n";
  }

  page += "<h2>Scores</h2>\n<figure>\n" + score_chart(grading) +
          "<figcaption>How many submissions have each score.</figcaption>\n</figure>\n";

  // Submissions against cases, the cases numbered as in the list below.
  std::vector<std::size_t> passed_by_case(max_score, 0);
  page +=
      "<h2>Submissions</h2>\n<table>\n<thead>\n<tr><th class=\"file\">Submission</th>"
      "<th>Score</th>";
  for (std::size_t i = 0; i < max_score; ++i) {
    page += "<th title=\"" + markup_text(grading.cases[i].name) + "\">" + std::to_string(i + 1) +
            "</th>";
  }
  page += "</tr>\n</thead>\n<tbody>\n";
  for (const Submission& s : grading.submissions) {
    page += "<tr><th class=\"file\">" + markup_text(s.path) +
            (s.notice ? "<br><small class=\"notice\">" + markup_text(*s.notice) + "</small>" : "") +
            "</th><td>" + std::to_string(s.passed) + " / " + std::to_string(max_score) + "</td>";
    for (std::size_t i = 0; i < max_score; ++i) {
      const cases::Verdict& v = s.verdicts[i];
      if (v.passed()) {
        ++passed_by_case[i];
        page += "<td class=\"pass\" title=\"passed\">&#10003;</td>";
        continue;
      }
      std::string why = v.message();
      for (const auto& [key, value] : v.details.items()) {
        why += "; " + key + ": " +
               (value.is_string()
                    ? value.get<std::string>()
                    : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
      }
      page += "<td class=\"fail\" title=\"" + markup_text(why) + "\">&#10007;</td>";
    }
    page += "</tr>\n";
  }
  page += "</tbody>\n<tfoot>\n<tr><th class=\"file\">Passed</th><td></td>";
  for (std::size_t i = 0; i < max_score; ++i) {
    page += "<td>" + percent(passed_by_case[i], n) + "</td>";
  }
  page += "</tr>\n</tfoot>\n</table>\n";

  page +=
      "<h2>Cases</h2>\n<table>\n<thead>\n<tr><th>#</th><th>Case</th><th>Passed</th>"
      "<th>Pass rate</th></tr>\n</thead>\n<tbody>\n";
  for (std::size_t i = 0; i < max_score; ++i) {
    const cases::GradedCase& c = grading.cases[i];
    const std::string rate = percent(passed_by_case[i], n);
    page += "<tr><td>" + std::to_string(i + 1) + "</td><td class=\"case\">" +
            (c.hidden ? markup_text(c.name) + ": " : "") + "<code>" + markup_text(c.c->text) +
            "</code></td><td>" + std::to_string(passed_by_case[i]) + " of " + std::to_string(n) +
            "</td><td class=\"case\"><span class=\"rate\" style=\"width:" +
            std::to_string(n == 0 ? 0 : passed_by_case[i] * 100 / n) + "px\"></span> " + rate +
            "</td></tr>\n";
  }
  page += "</tbody>\n</table>\n";

  page += "<h2>Same code</h2>\n";
  const std::vector<SameCode> groups = same_code(grading);
  if (groups.empty()) {
    page += "<p>No two submissions compile to the same code, under the same names or others.</p>\n";
  } else {
    page +=
        "<p>Submissions in one group compile to the same code: identical listings, or the "
        "same code once the names they chose are renamed.</p>\n<ul>\n";
    for (const SameCode& group : groups) {
      page += std::string("<li class=\"same-code\">") +
              (group.renamed ? "same code, renamed:" : "identical:");
      for (std::size_t k = 0; k < group.members.size(); ++k) {
        page += std::string(k == 0 ? " " : ", ") + "<span class=\"file\">" +
                markup_text(grading.submissions[group.members[k]].path) + "</span>";
      }
      page += "</li>\n";
    }
    page += "</ul>\n";
  }
  return page + "</body>\n</html>\n";
}

}  // namespace quern::report
