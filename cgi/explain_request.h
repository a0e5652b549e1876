// One /explain request: the same header checks and body as /compile, and a
// JSON answer that ties the assembly to the source.
#pragma once

#include <string>

#include "explain.h"
#include "request.h"

namespace quern::cgi {

/// The JSON object of an explanation, on one line: "ok", "answer",
/// "diagnostics" and, when ok, "lines" and "unoptimised".
std::string explanation_json(const Explanation& explanation);

/// Handles one request and returns the process's exit status (always 0).
/// Refused headers get 400 and {"error": reason}; every other request 200
/// and the explanation. A failed write is an internal failure.
int handle_explain(const Environment& environment, Input& input, Output& output);

}  // namespace quern::cgi
