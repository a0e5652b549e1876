// The service's bounds on one compile process: CPU-time and address-space
// limits, then a place among the requests the server admits and a slot among
// the compiles it runs at once (see service.h).
#include "service.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/resource.h>
#include <sys/sem.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "failure.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUERN_SERVICE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUERN_SERVICE_ASAN 1
#endif
#endif

namespace quern::cgi {
namespace {

constexpr std::string_view kBusy =
    "Status: 503 Service Unavailable\r\nRetry-After: 5\r\n\r\nService busy, try again later";
constexpr std::string_view kNotAllowed =
    "Status: 405 Method Not Allowed\r\nAllow: POST\r\n\r\nOnly POST is allowed";
constexpr unsigned long kDefaultWaitSeconds = 18;
// The semaphores of a server's set.
constexpr unsigned short kSlots = 0;   // free compile slots
constexpr unsigned short kPlaces = 1;  // free places, running or waiting
constexpr unsigned short kReady = 2;   // 1 once the creator has set the others
constexpr unsigned long kMaxSemaphoreValue = 32767;

// glibc leaves this union to the caller.
union SemaphoreArgument {
  int value;
  semid_ds* status;
  unsigned short* values;
};

[[noreturn]] void fail_errno(const std::string& what) {
  const int error = errno;
  internal_failure(what + ": " + std::strerror(error));
}

// A positive decimal setting, or nothing when the variable is absent.
std::optional<unsigned long> setting(const Environment& environment, const char* name,
                                     unsigned long largest) {
  const char* text = environment(name);
  if (text == nullptr) return std::nullopt;
  unsigned long value = 0;
  const char* c = text;
  for (; *c >= '0' && *c <= '9' && value <= largest; ++c) value = value * 10 + (*c - '0');
  if (c == text || *c != '\0' || value == 0 || value > largest) {
    internal_failure(std::string(name) + " must be a number from 1 to " + std::to_string(largest) +
                     ", not \"" + text + "\"");
  }
  return value;
}

constexpr std::string_view kFailed = "Status: 500 Internal Server Error\r\n\r\n";
volatile sig_atomic_t g_header_complete = 0;

char g_cpu_message[80];
std::size_t g_cpu_message_size = 0;

void cpu_time_out(int) {
  // Only async-signal-safe calls here: the message was written beforehand.
  end_failed_answer();
  ssize_t ignored = ::write(STDERR_FILENO, g_cpu_message, g_cpu_message_size);
  (void)ignored;
  ::_exit(101);
}

// The profiling timer counts the process's CPU time to the millisecond and
// ends it with a diagnostic; RLIMIT_CPU, in whole seconds, is a backstop
// that the kernel enforces even if the timer's signal were blocked.
void limit_cpu_time(unsigned long ms) {
  g_cpu_message_size = static_cast<std::size_t>(
      std::snprintf(g_cpu_message, sizeof g_cpu_message,
                    "internal failure: CPU time limit of %lu ms reached\n", ms));
  struct sigaction action {};
  action.sa_handler = cpu_time_out;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGPROF, &action, nullptr) != 0) fail_errno("cannot handle SIGPROF");
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(ms / 1000);
  timer.it_value.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
  if (setitimer(ITIMER_PROF, &timer, nullptr) != 0) fail_errno("cannot set the CPU timer");
  const rlim_t seconds = ms / 1000 + 2;
  const rlimit limit{seconds, seconds + 1};
  if (setrlimit(RLIMIT_CPU, &limit) != 0) fail_errno("cannot limit CPU time");
}

// The timer bounds the work that decides the answer. Once the end of the
// header block goes out, the answer is promised whole: the timer stops, and
// only RLIMIT_CPU, at least two seconds beyond the timer's limit, bounds the
// printing, which takes milliseconds for the largest answer. A SIGPROF that
// is already pending runs its handler as setitimer returns, while the 500
// can still be written.
void stop_cpu_timer() {
  const itimerval off{};
  if (setitimer(ITIMER_PROF, &off, nullptr) != 0) fail_errno("cannot stop the CPU timer");
}

void limit_memory(unsigned long mib) {
#ifdef QUERN_SERVICE_ASAN
  // A sanitizer build maps terabytes of shadow memory up front; an
  // address-space limit would make every compile fail.
  (void)mib;
#else
  const rlim_t bytes = static_cast<rlim_t>(mib) << 20;
  const rlimit limit{bytes, bytes};
  if (setrlimit(RLIMIT_AS, &limit) != 0) fail_errno("cannot limit the address space");
#endif
}

int semaphore_op(int id, unsigned short number, short change, short flags,
                 const timespec* timeout = nullptr) {
  sembuf op{number, change, flags};
  return semtimedop(id, &op, 1, timeout);
}

// The server's semaphore set: created and filled by the first process to
// come; the others wait until it is ready.
int open_slots(key_t key, unsigned long slots, unsigned long queue) {
  int id = semget(key, 3, IPC_CREAT | IPC_EXCL | 0600);
  if (id >= 0) {
    unsigned short values[3] = {};
    values[kSlots] = static_cast<unsigned short>(slots);
    values[kPlaces] = static_cast<unsigned short>(slots + queue);
    values[kReady] = 1;
    SemaphoreArgument argument{};
    argument.values = values;
    if (semctl(id, 0, SETALL, argument) != 0) fail_errno("cannot set the slot semaphores");
    return id;
  }
  if (errno != EEXIST) fail_errno("cannot create the slot semaphores");
  id = semget(key, 3, 0);
  if (id < 0) fail_errno("cannot open the slot semaphores");
  // Wait until kReady is 1, leaving it so: both operations apply at once.
  sembuf ready[2] = {{kReady, -1, 0}, {kReady, 1, 0}};
  while (semop(id, ready, 2) != 0) {
    if (errno != EINTR) fail_errno("cannot wait for the slot semaphores");
  }
  return id;
}

// Waits up to seconds for a free slot; false when the time ran out.
bool wait_for_slot(int id, unsigned long seconds) {
  timespec now{}, deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(seconds);
  for (;;) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) {
      left.tv_nsec += 1000000000;
      --left.tv_sec;
    }
    if (left.tv_sec < 0) return false;
    if (semaphore_op(id, kSlots, -1, SEM_UNDO, &left) == 0) return true;
    if (errno == EAGAIN) return false;
    if (errno != EINTR) fail_errno("cannot wait for a compile slot");
  }
}

// Whether the request's method may ask for a compile: POST, or no
// REQUEST_METHOD at all (the program run by hand or by the tests). The
// server runs the program for any method.
bool method_allowed(const Environment& environment) {
  const char* method = environment("REQUEST_METHOD");
  return method == nullptr || std::string_view(method) == "POST";
}

bool refuse(Output& output, std::string_view answer = kBusy) {
  if (!output.write(answer) || !output.flush()) {
    const int error = output.error();
    internal_failure("failed printing to stdout: " + std::string(std::strerror(error)) +
                     " (os error " + std::to_string(error) + ")");
  }
  return false;
}

}  // namespace

namespace {
void mark_header_complete() {
  g_header_complete = 1;
}
}  // namespace

bool AnswerOutput::write(std::string_view text) {
  if (!header_end_written_ && text.find("\r\n\r\n") != std::string_view::npos) {
    out_.watch_next_send(stop_cpu_timer, mark_header_complete);
    header_end_written_ = true;
  }
  if (out_.write(text)) return true;
  error_ = out_.error();
  return false;
}

bool AnswerOutput::flush() {
  if (out_.flush()) return true;
  error_ = out_.error();
  return false;
}

bool AnswerOutput::holds_unsent_header_end() const {
  return header_end_written_ && g_header_complete == 0;
}

void end_failed_answer() {
  if (g_header_complete) return;
  ssize_t ignored = ::write(STDOUT_FILENO, kFailed.data(), kFailed.size());
  (void)ignored;
}

bool enter_service(const Environment& environment, Output& output) {
  if (auto ms = setting(environment, "QUERN_CPU_MS", 3600000)) limit_cpu_time(*ms);
  if (auto mib = setting(environment, "QUERN_MEMORY_MIB", 1 << 20)) limit_memory(*mib);

  const std::optional<unsigned long> key = setting(environment, "QUERN_SLOT_KEY", 0x7fffffff);
  if (!key) return true;
  const unsigned long slots = setting(environment, "QUERN_SLOTS", kMaxSemaphoreValue).value_or(1);
  const unsigned long queue =
      setting(environment, "QUERN_QUEUE", kMaxSemaphoreValue - slots).value_or(1);
  const unsigned long wait =
      setting(environment, "QUERN_WAIT_S", 3600).value_or(kDefaultWaitSeconds);

  const int id = open_slots(static_cast<key_t>(*key), slots, queue);
  if (semaphore_op(id, kPlaces, -1, IPC_NOWAIT | SEM_UNDO) != 0) {
    if (errno != EAGAIN) fail_errno("cannot take a place in the queue");
    return refuse(output);
  }
  return wait_for_slot(id, wait) || refuse(output);
}

namespace {
AnswerOutput* g_answer = nullptr;
// On an internal failure: pass on what was written, and make an unfinished
// answer a 500 rather than a bare header. An answer whose header block has
// not left yet is dropped whole: its status would be wrong.
void end_on_failure() {
  if (!g_answer->holds_unsent_header_end()) g_answer->flush();
  end_failed_answer();
}
}  // namespace

int serve(Handler handle) {
  signal(SIGPIPE, SIG_IGN);
  FdOutput fd_out(STDOUT_FILENO);
  AnswerOutput out(fd_out);
  g_answer = &out;
  set_failure_flush(end_on_failure);
  fail_when_memory_runs_out();
  const Environment environment = [](const char* name) { return getenv(name); };
  if (!method_allowed(environment)) {
    refuse(out, kNotAllowed);
    return 0;
  }
  // A refused request is answered already.
  if (!enter_service(environment, out)) return 0;
  FdInput in(STDIN_FILENO);
  return handle(environment, in, out);
}

}  // namespace quern::cgi
