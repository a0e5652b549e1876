// A CGI program that only spends CPU time, under the service's bounds: it
// writes the content type, then spins until the CPU timer ends it; with the
// argument "after" it first writes the end of a 200 header block and a
// body, and spins a while after that, when the timer must no longer end it.
#include <time.h>

#include <string_view>

#include "service.h"

namespace {

bool g_after = false;

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int spin(const quern::cgi::Environment&, quern::cgi::Input&, quern::Output& out) {
  out.write("Content-Type: text/plain\n");
  out.flush();
  if (g_after) {
    out.write("Status: 200 OK\r\n\r\nwhole");
    out.flush();
  }
  // Bounded, so that a timer that never fires fails the test rather than hangs it.
  const double end = cpu_seconds() + (g_after ? 0.2 : 5.0);
  while (cpu_seconds() < end) {
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_after = argc > 1 && std::string_view(argv[1]) == "after";
  return quern::cgi::serve(spin);
}
