// Bounds on the compiles one server runs: how many run at once, how many may
// wait for a turn, and how much CPU time and memory each process may take.
//
// Every program the server runs for a compile calls enter_service first. The
// settings come from the environment that the server's configuration gives
// every CGI process (lighttpd's setenv.add-environment); a variable that is
// absent leaves that bound off, so the program run by hand or by the tests
// behaves as before:
//
//   QUERN_CPU_MS      CPU time per process, in milliseconds
//   QUERN_MEMORY_MIB  address space per process, in MiB
//   QUERN_SLOT_KEY    System V IPC key of the server's slot semaphores; with
//   QUERN_SLOTS       compiles that run at once, and
//   QUERN_QUEUE       requests that may wait for a slot beyond those
//   QUERN_WAIT_S      longest wait for a slot, in seconds (default 18, within
//                     lighttpd's read timeout of 20 s for a silent program)
//
// Slots are counted by a System V semaphore set that the first process
// creates: one semaphore counts the places in the service (running plus
// waiting), one the free slots, one says the set is ready. A process takes a
// place without waiting, or is refused at once when there is none; then it
// waits for a slot, in the order the waiters came. Both are taken with
// SEM_UNDO, so the kernel gives them back when the process ends, however it
// ends (normally, by internal failure, or killed at a limit).
#pragma once

#include <string_view>

#include "output.h"
#include "request.h"

namespace quern::cgi {

/// Applies the CPU-time and memory limits, then takes a place and waits for
/// a slot. Returns true once the request may go ahead (it keeps its slot
/// until the process ends); false after writing the refusal
///   "Status: 503 Service Unavailable\r\nRetry-After: 5\r\n\r\n" message
/// when every place is taken or the wait for a slot ran out. A setting that
/// is not a positive decimal number, or a semaphore set that cannot be used,
/// is an internal failure: the server's configuration is wrong.
///
/// A process that runs out of CPU time ends with exit status 101 and
/// "internal failure: CPU time limit of N ms reached" on standard error,
/// after end_failed_answer: a program that calls enter_service writes its
/// answer through an AnswerOutput and calls end_failed_answer from its
/// failure hook (set_failure_flush), as cgi/main.cc does.
bool enter_service(const Environment& environment, Output& output);

/// The answer's standard output, watched for the end of the header block.
/// That end may wait in the output's buffer with the start of the answer
/// behind it; when it first leaves for the server, the CPU timer of the
/// QUERN_CPU_MS limit stops, so that an answer is printed whole once any of
/// it is seen (RLIMIT_CPU, two seconds later, still bounds the process). A
/// compile whose answer fits in the buffer is timed whole; a longer one
/// until its first stretch leaves. A process that fails before that end has
/// left (an internal failure, or the CPU-time limit) would leave the server
/// a bare "Content-Type: text/plain\n", which lighttpd passes on as the body
/// of a 200 answer; end_failed_answer then drops what waits in the buffer
/// and completes the header block with
/// "Status: 500 Internal Server Error\r\n\r\n", so that the failure shows
/// as one. The header lines before the end are flushed as they are written.
class AnswerOutput : public Output {
 public:
  explicit AnswerOutput(FdOutput& out) : out_(out) {}
  bool write(std::string_view text) override;
  bool flush() override;
  // Text formatted in place never holds the end of the header block: the
  // buffer is lent only once that end has been written.
  Room room(std::size_t n) override { return header_end_written_ ? out_.room(n) : Room{}; }
  /// Whether the end of the header block waits in the buffer, unsent.
  bool holds_unsent_header_end() const;

 private:
  FdOutput& out_;
  bool header_end_written_ = false;
};

/// Writes the 500 status straight to standard output unless an AnswerOutput
/// has passed on the end of the header block. Async-signal-safe.
void end_failed_answer();

/// What a CGI program does with its request once it has its turn.
using Handler = int (*)(const Environment& environment, Input& input, Output& output);

/// The whole of a CGI program's main: standard output through an
/// AnswerOutput, a broken pipe shown as a write error rather than a signal,
/// the failure hook; a REQUEST_METHOD other than POST answered
///   "Status: 405 Method Not Allowed\r\nAllow: POST\r\n\r\n" message
/// before any place is taken (the server runs the program for any method);
/// then enter_service, and handle on the process's environment and standard
/// input. Returns the exit status.
int serve(Handler handle);

}  // namespace quern::cgi
