// The /explain program: one request in, one JSON answer out, exit status 0.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "explain_request.h"
#include "output.h"

int main() {
  // A reader that has gone away must show as a write error, not a signal.
  signal(SIGPIPE, SIG_IGN);
  quern::FdOutput out(STDOUT_FILENO);
  quern::cgi::FdInput in(STDIN_FILENO);
  return quern::cgi::handle_explain([](const char* name) { return getenv(name); }, in, out);
}
