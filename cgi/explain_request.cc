// The /explain answer, written with nlohmann-json:
//   header check failed: "Content-Type: application/json\n" "Status: 400 Bad Request\r\n\r\n"
//                        {"error": reason} "\n"
//   otherwise:           "Content-Type: application/json\n" "Status: 200 OK\r\n\r\n"
//                        the explanation's object "\n"
#include "explain_request.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "failure.h"

namespace quern::cgi {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kJsonType = "Content-Type: application/json\n";
constexpr std::string_view kOk = "Status: 200 OK\r\n\r\n";
constexpr std::string_view kBadRequest = "Status: 400 Bad Request\r\n\r\n";

Json position_value(int32_t n) {
  return n == 0 ? Json(nullptr) : Json(n);
}

std::string dump(const Json& value) {
  try {
    return value.dump();
  } catch (const Json::exception& e) {
    // Every text in the answer is valid UTF-8: the source was checked.
    internal_failure(std::string("JSON answer: ") + e.what());
  }
}

// Appends a listing as the array that dump() makes of it,
// [{"text":...,"source":N or null},...], written straight out: a listing
// runs to hundreds of thousands of lines, and a tree of them costs several
// times what the compile does. A text with a character that JSON escapes
// is escaped by dump() itself; listing texts normally have none.
void append_listing(std::string& out, const Listing& listing) {
  out += '[';
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const ListingLine& line = listing[i];
    if (i != 0) out += ',';
    out += R"({"text":)";
    const bool plain = std::none_of(line.text.begin(), line.text.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
    });
    if (plain) {
      out += '"';
      out += line.text;
      out += '"';
    } else {
      out += dump(Json(line.text));
    }
    out += R"(,"source":)";
    out += line.source == 0 ? std::string("null") : std::to_string(line.source);
    out += '}';
  }
  out += ']';
}

void send(Output& output, std::string_view text) {
  if (output.write(text) && output.flush()) return;
  const int error = output.error();
  internal_failure("failed printing to stdout: " + std::string(std::strerror(error)) +
                   " (os error " + std::to_string(error) + ")");
}

}  // namespace

std::string explanation_json(const Explanation& explanation) {
  Json object;
  object["ok"] = !explanation.error.has_value();
  object["answer"] = explanation.answer();
  Json diagnostics = Json::array();
  for (const Diagnostic& d : explanation.diagnostics) {
    Json entry{{"line", position_value(d.line)},
               {"column", position_value(d.column)},
               {"message", d.message}};
    if (d.is_syntax) entry["causes"] = d.causes;
    diagnostics.push_back(std::move(entry));
  }
  object["diagnostics"] = std::move(diagnostics);
  std::string text = dump(object);
  if (!explanation.error) {
    text.pop_back();  // the object's closing brace
    text += R"(,"lines":)";
    append_listing(text, explanation.optimised);
    text += R"(,"unoptimised":)";
    append_listing(text, explanation.unoptimised);
    text += '}';
  }
  return text;
}

int handle_explain(const Environment& environment, Input& input, Output& output) {
  std::string answer(kJsonType);
  unsigned long long length = 0;
  if (std::optional<std::string_view> refusal = check_headers(environment, &length)) {
    answer += kBadRequest;
    answer += dump(Json{{"error", *refusal}});
  } else {
    std::string body;
    Explanation explanation;
    if (std::optional<std::string> error = read_body(input, length, body)) {
      explanation = explain_unspecified(std::move(*error));
    } else {
      explanation = explain(body);
    }
    answer += kOk;
    answer += explanation_json(explanation);
  }
  answer += '\n';
  send(output, answer);
  return 0;
}

}  // namespace quern::cgi
