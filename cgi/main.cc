// The CGI program for /compile: one request in, one answer out, exit status
// 0. It takes its turn among the server's compiles first (service.h).
#include "request.h"
#include "service.h"

int main() {
  return quern::cgi::serve(quern::cgi::handle_request);
}
