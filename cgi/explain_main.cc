// The /explain program: one request in, one JSON answer out, exit status 0.
// Like the cgi, it takes its turn among the server's compiles first.
#include "explain_request.h"
#include "service.h"

int main() {
  return quern::cgi::serve(quern::cgi::handle_explain);
}
