// One /explain request: the same header checks and body as /compile, and the
// library's JSON answer that ties the assembly to the source.
#pragma once

#include "explain.h"
#include "request.h"

namespace quern::cgi {

/// Handles one request and returns the process's exit status (always 0).
/// Refused headers get 400 and {"error": reason}; every other request 200
/// and the explanation. A failed write is an internal failure.
int handle_explain(const Environment& environment, Input& input, Output& output);

}  // namespace quern::cgi
