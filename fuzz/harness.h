// What the fuzz targets and the regression test share: the decoding of a
// fuzz input into one CGI request, in-memory input and output that can
// misbehave on purpose, and the checks on the compiler's and the request
// handler's answers. Every check returns an empty string when it holds and a
// description of the fault otherwise.
//
// Request inputs are laid out as:
//   byte 0  flags
//           bits 0-1  CONTENT_TYPE: 0 absent, 1 a field, 2 and 3 the accepted value
//           bits 2-3  CONTENT_LENGTH: 0 absent, 1 a field, 2 the body's length,
//                     3 the body's length minus the parameter (the input holds more
//                     than is declared)
//           bits 4-5  reads: 0 as large as asked, 1 at most (parameter % 64) + 1 bytes,
//                     2 the same with -EINTR before each, 3 -EIO once parameter bytes
//                     have been read
//           bit 6     the output refuses writes once the assembly text would pass
//                     parameter bytes
//   byte 1  parameter
//   then the CONTENT_TYPE field, then the CONTENT_LENGTH field, each only when
//   its flag asks for one and each ending at a NUL byte (an environment value
//   cannot hold one), then the body: the rest of the input.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "explain.h"
#include "explain_request.h"
#include "failure.h"
#include "listing.h"
#include "output.h"
#include "quern.h"
#include "request.h"

namespace quern::fuzz {

inline constexpr std::string_view kAcceptedType = "text/plain; charset=UTF-8";
inline constexpr std::string_view kTextHeader = "Content-Type: text/plain\n";
inline constexpr std::string_view kOkStatus = "Status: 200 OK\r\n\r\n";
inline constexpr std::string_view kBadStatus = "Status: 400 Bad Request\r\n\r\n";
inline constexpr std::size_t kMaxBody = 65535;

// Well-formed UTF-8 by the table of valid byte sequences: the allowed range
// of each continuation byte depends on the lead byte, which excludes overlong
// forms, surrogates and values above U+10FFFF.
inline bool well_formed_utf8(std::string_view text) {
  const auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    unsigned lo = 0x80;
    unsigned hi = 0xBF;
    std::size_t tail;
    if (b <= 0x7F) {
      tail = 0;
    } else if (in(b, 0xC2, 0xDF)) {
      tail = 1;
    } else if (in(b, 0xE0, 0xEF)) {
      tail = 2;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (in(b, 0xF0, 0xF4)) {
      tail = 3;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i - 1 < tail) return false;
    for (std::size_t k = 1; k <= tail; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if (!(k == 1 ? in(c, lo, hi) : in(c, 0x80, 0xBF))) return false;
    }
    i += tail + 1;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The compiler on its own.

inline std::string check_assembly_lines(std::string_view text) {
  if (!text.empty() && text.back() != '\n') return "assembly does not end with a line feed";
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    const bool instruction = line.size() > 4 && line.substr(0, 4) == "    " && line[4] != ' ';
    const bool label = line.size() > 1 && line.back() == ':' && line.find(' ') == line.npos &&
                       line.find('\t') == line.npos;
    if (!instruction && !label) return "malformed assembly line '" + std::string(line) + "'";
    start = end + 1;
  }
  return "";
}

inline std::string check_report(std::string_view source, const CompileError& error) {
  const std::string report = error.report();
  if (!report.starts_with("ERROR ")) return "report does not begin with \"ERROR \": " + report;
  const bool utf8 = well_formed_utf8(source);
  if (const auto* u = std::get_if<compile_error::Unspecified>(&error.kind)) {
    if (utf8) return "well-formed UTF-8 refused as unreadable: " + report;
    if (u->text != "stream did not contain valid UTF-8") return "wrong UTF-8 refusal: " + report;
    return "";
  }
  if (!utf8) return "ill-formed UTF-8 was not refused as such: " + report;
  if (std::holds_alternative<compile_error::Syntax>(error.kind)) {
    if (!report.starts_with("ERROR Syntax error at line ") || !report.ends_with('\n')) {
      return "malformed syntax report: " + report;
    }
    return "";
  }
  // Validation: one "ERROR at line L column C: ..." line per finding.
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find('\n', start);
    if (end == report.npos) return "validation report does not end with a line feed: " + report;
    if (!std::string_view(report).substr(start).starts_with("ERROR at line ")) {
      return "malformed validation finding: " + report;
    }
    start = end + 1;
  }
  return "";
}

/// Compiles source twice: a success must print well-formed assembly and the
/// same assembly both times; a failure must give a well-formed report, and
/// the same one both times.
// The explanation answers as compile did, its JSON can be written, and every
// printed line up to the halt has a line of the source.
inline std::string check_explain(std::string_view source, const CompileResult& compiled) {
  const Explanation explained = explain(source);
  const auto* error = std::get_if<CompileError>(&compiled);
  const std::string answer =
      error != nullptr ? error->report() : assembly_text(std::get<InstructionList>(compiled));
  if (explained.answer() != answer) return "explain answers differently from compile";
  if (explanation_json(explained).empty()) return "the explanation has no JSON";
  if (explained.error) return "";
  const long lines = 1 + std::count(source.begin(), source.end(), '\n');
  const auto [unoptimised, optimised] = listings(explained);
  for (const Listing& listed : {optimised, unoptimised}) {
    for (const ListingLine& line : listed) {
      if (line.source < 0 || line.source > lines) return "a source line outside the source";
      if (line.source == 0) return "a code line without a source line";
      if (line.text == "    halt") break;
    }
  }
  return "";
}

// The streamed answer: the outcome's flag, then the report or the assembly,
// as compile_to writes them.
inline std::string streamed_answer(std::string_view source) {
  StringOutput out;
  compile_to(source, out, [&](bool ok) { out.write(ok ? "ok\n" : "failed\n"); });
  return out.text();
}

inline std::string check_compile(std::string_view source) {
  const CompileResult first = compile(source);
  const CompileResult second = compile(source);
  if (std::string fault = check_explain(source, first); !fault.empty()) return fault;
  const auto* failure = std::get_if<CompileError>(&first);
  if (streamed_answer(source) != (failure != nullptr
                                      ? "failed\n" + failure->report()
                                      : "ok\n" + assembly_text(std::get<InstructionList>(first)))) {
    return "the streamed answer differs from the compiled list's";
  }
  if (const auto* error = std::get_if<CompileError>(&first)) {
    const auto* again = std::get_if<CompileError>(&second);
    if (again == nullptr) return "second compile succeeded after a failure";
    if (again->report() != error->report()) return "reports differ between two compiles";
    return check_report(source, *error);
  }
  if (!well_formed_utf8(source)) return "ill-formed UTF-8 compiled";
  const auto* again = std::get_if<InstructionList>(&second);
  if (again == nullptr) return "second compile failed after a success";
  const std::string text = assembly_text(std::get<InstructionList>(first));
  if (text != assembly_text(*again)) return "assembly differs between two compiles";
  StringOutput printed;
  if (!print_assembly(*again, printed)) return "printing to memory failed";
  if (printed.text() != text) return "print_assembly and assembly_text disagree";
  return check_assembly_lines(text);
}

// ---------------------------------------------------------------------------
// One request.

enum class ReadMode { Whole, Short, Interrupted, Failing };

struct RequestCase {
  std::optional<std::string> type;    // CONTENT_TYPE, absent when empty
  std::optional<std::string> length;  // CONTENT_LENGTH
  ReadMode reads = ReadMode::Whole;
  bool failing_output = false;
  unsigned char parameter = 0;
  std::string body;  // everything the input can deliver
};

/// A request whose headers are accepted, with the body read in one go.
inline RequestCase plain_request(std::string_view body) {
  return RequestCase{
      std::string(kAcceptedType), std::to_string(body.size()), ReadMode::Whole, false, 0,
      std::string(body)};
}

inline RequestCase decode_request(std::string_view data) {
  const auto byte = [&](std::size_t i) {
    return i < data.size() ? static_cast<unsigned char>(data[i]) : 0;
  };
  const unsigned flags = byte(0);
  RequestCase request;
  request.parameter = byte(1);
  request.reads = static_cast<ReadMode>((flags >> 4) & 3);
  request.failing_output = (flags & 0x40) != 0;
  data.remove_prefix(std::min<std::size_t>(2, data.size()));
  const auto field = [&] {
    const std::size_t end = data.find('\0');
    std::string value(data.substr(0, end));
    data.remove_prefix(end == data.npos ? data.size() : end + 1);
    return value;
  };
  switch (flags & 3) {
    case 0:
      break;
    case 1:
      request.type = field();
      break;
    default:
      request.type = std::string(kAcceptedType);
  }
  const unsigned length_mode = (flags >> 2) & 3;
  if (length_mode == 1) request.length = field();
  request.body = std::string(data);
  if (length_mode == 2) request.length = std::to_string(request.body.size());
  if (length_mode == 3) {
    request.length = std::to_string(request.body.size() -
                                    std::min<std::size_t>(request.parameter, request.body.size()));
  }
  return request;
}

/// Hands out a body in the ways a pipe can: short reads, interrupted reads,
/// and a read error part way.
class MemoryInput : public cgi::Input {
 public:
  MemoryInput(std::string_view data, ReadMode mode, unsigned char parameter)
      : data_(data), mode_(mode), parameter_(parameter) {}

  long read(char* buffer, std::size_t size) override {
    if (mode_ == ReadMode::Interrupted && !interrupted_) {
      interrupted_ = true;
      return -EINTR;
    }
    interrupted_ = false;
    std::size_t n = std::min(size, data_.size() - delivered_);
    if (mode_ == ReadMode::Short || mode_ == ReadMode::Interrupted) {
      n = std::min<std::size_t>(n, parameter_ % 64 + 1);
    }
    if (mode_ == ReadMode::Failing) {
      if (delivered_ >= parameter_) {
        failed_ = true;
        return -EIO;
      }
      n = std::min<std::size_t>(n, parameter_ - delivered_);
    }
    std::memcpy(buffer, data_.data() + delivered_, n);
    delivered_ += n;
    return static_cast<long>(n);
  }

  std::string_view delivered() const { return data_.substr(0, delivered_); }
  bool failed() const { return failed_; }

 private:
  std::string_view data_;
  ReadMode mode_;
  unsigned char parameter_;
  std::size_t delivered_ = 0;
  bool interrupted_ = false;
  bool failed_ = false;
};

/// Collects the answer. When limited, it refuses, for good, the first write
/// of assembly text that would take that text past limit bytes, as a reader
/// that goes away would.
class AnswerOutput : public Output {
 public:
  explicit AnswerOutput(std::optional<std::size_t> limit) : limit_(limit) {}

  bool write(std::string_view text) override {
    if (failed_) return false;
    if (limit_ && started_assembly() && text_.size() + text.size() > assembly_start() + *limit_) {
      failed_ = true;
      error_ = EPIPE;
      return false;
    }
    text_.append(text);
    return true;
  }
  const std::string& text() const { return text_; }

 private:
  static std::size_t assembly_start() { return kTextHeader.size() + kOkStatus.size(); }
  bool started_assembly() const {
    return text_.size() >= assembly_start() && text_.starts_with(kTextHeader) &&
           std::string_view(text_).substr(kTextHeader.size()).starts_with(kOkStatus);
  }

  std::optional<std::size_t> limit_;
  bool failed_ = false;
  std::string text_;
};

// The refusal a request's headers earn, worked out from the header rules
// directly: a value that is not UTF-8 counts as absent; the type must match
// exactly; the length is an optional "+" and ASCII digits, at most 2^64 - 1
// and at most the largest body.
inline std::optional<std::string_view> expected_refusal(const RequestCase& request,
                                                        unsigned long long* declared) {
  const auto present = [](const std::optional<std::string>& v) {
    return v.has_value() && well_formed_utf8(*v);
  };
  if (!present(request.type)) return "Content-Type must be specified";
  if (*request.type != kAcceptedType) return "Content-Type must be text/plain, UTF-8";
  if (!present(request.length)) return "Content-Length must be specified";
  std::string_view digits = *request.length;
  if (digits.starts_with('+')) digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != digits.npos) {
    return "Content-Length must be a non-negative integer";
  }
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  constexpr std::string_view kMax64 = "18446744073709551615";
  if (digits.size() > kMax64.size() || (digits.size() == kMax64.size() && digits > kMax64)) {
    return "Content-Length must be a non-negative integer";
  }
  if (digits.size() > 5 || std::stoul(std::string(digits)) > kMaxBody) {
    return "Content-Length too large";
  }
  *declared = std::stoul(std::string(digits));
  return std::nullopt;
}

/// Runs handle_request on the request and checks its answer: exit status 0;
/// a header refusal, or the text header followed by a compile report or the
/// assembly; exactly the answer the headers and the bytes read call for; and
/// never more read than declared.
inline std::string check_request(const RequestCase& request) {
  const auto environment = [&](const char* name) -> const char* {
    const std::optional<std::string>* value = nullptr;
    if (std::strcmp(name, "CONTENT_TYPE") == 0) value = &request.type;
    if (std::strcmp(name, "CONTENT_LENGTH") == 0) value = &request.length;
    return value != nullptr && value->has_value() ? (*value)->c_str() : nullptr;
  };
  MemoryInput input(request.body, request.reads, request.parameter);
  std::optional<std::size_t> limit;
  if (request.failing_output) limit = request.parameter;
  AnswerOutput output(limit);
  const int status = cgi::handle_request(environment, input, output);
  if (status != 0) return "exit status " + std::to_string(status);
  const std::string& answer = output.text();

  unsigned long long declared = 0;
  const std::optional<std::string_view> refusal = expected_refusal(request, &declared);
  if (answer.starts_with(kBadStatus)) {
    const std::string_view message = std::string_view(answer).substr(kBadStatus.size());
    static constexpr std::string_view kRefusals[] = {
        "Content-Type must be specified", "Content-Type must be text/plain, UTF-8",
        "Content-Length must be specified", "Content-Length must be a non-negative integer",
        "Content-Length too large"};
    if (std::find(std::begin(kRefusals), std::end(kRefusals), message) == std::end(kRefusals)) {
      return "unknown header refusal: " + answer;
    }
    if (!input.delivered().empty()) return "body read although the headers were refused";
    if (refusal != message) {
      return "refusal '" + std::string(message) + "' where '" +
             std::string(refusal.value_or("acceptance")) + "' was due";
    }
    return "";
  }
  if (!answer.starts_with(kTextHeader)) return "answer begins with neither header: " + answer;
  if (refusal) return "headers accepted where '" + std::string(*refusal) + "' was due";
  const std::string_view after = std::string_view(answer).substr(kTextHeader.size());
  if (!after.starts_with(kOkStatus) && !after.starts_with(kBadStatus)) {
    return "no status after the text header: " + answer;
  }
  if (after.starts_with(kBadStatus) && !after.substr(kBadStatus.size()).starts_with("ERROR ")) {
    return "compile report does not begin with \"ERROR \": " + answer;
  }

  const std::string_view read = input.delivered();
  if (read.size() > declared) {
    return "read " + std::to_string(read.size()) + " bytes of " + std::to_string(declared) +
           " declared";
  }
  if (!input.failed() && read.size() != std::min<std::size_t>(declared, request.body.size())) {
    return "read " + std::to_string(read.size()) + " bytes, stopping short of the body";
  }
  std::string expected(kTextHeader);
  if (input.failed()) {
    expected += kBadStatus;
    expected += "ERROR Unspecified parse error: Input/output error (os error 5)";
  } else {
    const CompileResult result = compile(read);
    if (const auto* error = std::get_if<CompileError>(&result)) {
      expected += kBadStatus;
      expected += error->report();
    } else {
      const std::string text = assembly_text(std::get<InstructionList>(result));
      expected += kOkStatus;
      if (limit && text.size() > *limit) {
        // The refused write ends the text; what came before it is whole lines.
        const std::string_view got = std::string_view(answer).substr(expected.size());
        if (!answer.starts_with(expected) || !text.starts_with(got) || got.size() > *limit ||
            (!got.empty() && got.back() != '\n')) {
          return "assembly cut by a failed write is not a run of whole lines: " + answer;
        }
        return "";
      }
      expected += text;
    }
  }
  if (answer != expected) return "answer differs from the compiler's result: " + answer;
  return "";
}

// The library ends the process with status 101 on an impossible state,
// which a fuzzer would not notice; the targets abort instead, so that the
// input is kept as a finding.
inline void abort_on_internal_failure() {
  std::fputs("internal failure (the library was about to exit with 101)\n", stderr);
  std::abort();
}

// Aborts with the fault's description when a check found one.
inline void abort_on_fault(const char* target, const std::string& fault) {
  if (fault.empty()) return;
  std::fprintf(stderr, "%s: %s\n", target, fault.c_str());
  std::abort();
}

}  // namespace quern::fuzz
