// The CGI program: one request in, one answer out, exit status 0. It takes
// its turn among the server's compiles first (service.h).
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "failure.h"
#include "output.h"
#include "request.h"
#include "service.h"

namespace {
quern::Output* g_stdout = nullptr;
// On an internal failure: pass on what was written, and make an unfinished
// answer a 500 rather than a bare header.
void end_on_failure() {
  g_stdout->flush();
  quern::cgi::end_failed_answer();
}
}  // namespace

int main() {
  // A reader that has gone away must show as a write error, not a signal.
  signal(SIGPIPE, SIG_IGN);
  quern::FdOutput fd_out(STDOUT_FILENO);
  quern::cgi::AnswerOutput out(fd_out);
  g_stdout = &out;
  quern::set_failure_flush(end_on_failure);
  const quern::cgi::Environment environment = [](const char* name) { return getenv(name); };
  // The server's bounds: a refused request is answered already.
  if (!quern::cgi::enter_service(environment, out)) return 0;
  quern::cgi::FdInput in(STDIN_FILENO);
  return quern::cgi::handle_request(environment, in, out);
}
