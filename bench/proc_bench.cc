// The cost of one request as the web server pays it: a fresh cgi process per
// request, with the CGI environment and the body on standard input. Each run
// of cgi is paired with a run of the floor program (a static C program that
// only reads its input and writes a line) fed the same body the same way, so
// that the ratio cgi/floor is what this service adds to the cost of starting
// any process. Runs of the two alternate, and which one goes first in a pair
// alternates too, so that drift in the machine's load hits both alike.
//
// For timing, both sides are started by posix_spawn (a vfork-style clone,
// then exec) with standard input duplicated from an in-memory file holding
// the body, rewound before each run, and standard output on /dev/null. Wall
// time runs from just before the spawn to the return of wait4. The child's
// CPU time (user and system, from wait4) is shown beside it: it leaves out
// the time spent waiting for a processor, so it varies less when the machine
// is shared.
//
// Peak resident memory and minor page faults come from separate runs, each
// program started by /usr/bin/time (fork and exec) with its report written to
// an in-memory file: the peak counts the memory the process had just before
// its exec, and a forked child has only the private pages it copied, the
// same for every program measured. The floor's figures say what starting any
// process costs. Beside the cgi and the floor, the command-line compiler's
// `quern --explain -` is measured on the same body, as it holds the largest
// answer. The runner keeps no body text of its own.
//
// Before anything is measured, each body's answer from cgi is compared byte
// for byte with the answer the library gives, so a misconfigured run (a wrong
// environment, a truncated body) cannot pass for a fast one. Both are
// computed in a forked process, which keeps the runner small.
//
// With --curve FILE the runner measures cost against body size instead: each
// shape at several sizes, for the cgi, a baseline cgi (an older build, given
// by --baseline-cgi) and the floor, the three interleaved in rotating order.
// The baseline must give byte for byte the answers the cgi gives. FILE gets
// one line per shape, size and binary: shape, bytes, binary ("current" or
// "baseline"), median wall ms, median cpu ms, and the floor's median wall and
// cpu ms from the same runs; a table goes to standard output.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "output.h"
#include "request.h"
#include "shapes.h"

namespace {

constexpr std::string_view kContentType = "text/plain; charset=UTF-8";
constexpr std::string_view kTypical =
    "int f(int n) { int s = 0; while (n > 0) { s = s + n; n = n - 1; } return s; }";

// Targets: what a request may cost relative to the floor, and its memory
// above the floor's.
constexpr double kTypicalTarget = 1.15;
constexpr double kExtremeTarget = 3.0;
constexpr double kRssAboveFloorMiB = 2.0;
constexpr double kExplainRssAboveFloorMiB = 8.0;
constexpr const char* kTime = "/usr/bin/time";
// Linearity: the cost above the floor at the full budget against half of it.
constexpr double kLinearityTarget = 2.2;

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "proc_bench: %s\n", what.c_str());
  std::exit(2);
}

[[noreturn]] void die_errno(const std::string& what) {
  die(what + ": " + std::strerror(errno));
}

struct Body {
  std::string label;  // "typical", or the shape's name
  bool half = false;  // the half-budget variant of a shape
  std::size_t size = 0;
  int fd = -1;  // an in-memory file holding the text
};

struct Times {
  double wall_ms, cpu_ms;
};

// Peak resident memory and minor page faults of one program on one body: the
// largest of each over the memory runs.
struct Memory {
  double rss_mib = 0;
  long faults = 0;
};

struct Result {
  std::vector<double> cgi_ms, floor_ms;          // wall time
  std::vector<double> cgi_cpu_ms, floor_cpu_ms;  // the child's CPU time
  Memory cgi, floor, explain;                    // the cgi, the floor, quern --explain
  std::string status;                            // the cgi answer's status code
};

int memory_file(const std::string& text) {
  const int fd = memfd_create("body", MFD_CLOEXEC);
  if (fd < 0) die_errno("memfd_create");
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) die_errno("write body");
    done += static_cast<std::size_t>(n);
  }
  return fd;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) die_errno("read");
    if (n == 0) return text;
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

double now_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Waits for pid and checks that it exited with status 0; returns its usage.
rusage reap(pid_t pid, const char* program) {
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) die_errno("wait4");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die(std::string(program) + " did not exit with status 0 (wait status " +
        std::to_string(status) + ")");
  }
  return usage;
}

double ms(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Starts programs with a body's CGI environment, standard input from the
// body's file and standard output on a given descriptor.
class Spawner {
 public:
  explicit Spawner(const Body& body) : in_fd_(body.fd) {
    type_ = "CONTENT_TYPE=" + std::string(kContentType);
    length_ = "CONTENT_LENGTH=" + std::to_string(body.size);
    env_[0] = type_.data();
    env_[1] = length_.data();
    env_[2] = nullptr;
  }

  /// Runs program by posix_spawn; returns its wall and CPU time.
  Times timed_run(const char* program, int out_fd) {
    rewind();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_fd_, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(program), nullptr};
    const double start = now_ms();
    pid_t pid;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, env_);
    if (rc != 0) {
      errno = rc;
      die_errno(std::string("posix_spawn ") + program);
    }
    const rusage usage = reap(pid, program);
    const double end = now_ms();
    posix_spawn_file_actions_destroy(&actions);
    return {end - start, ms(usage.ru_utime) + ms(usage.ru_stime)};
  }

  /// Runs program with args under /usr/bin/time; returns its peak resident
  /// memory and minor page faults. Its exit status must be at most
  /// max_status.
  Memory memory_run(const char* program, std::vector<const char*> args, int out_fd,
                    int max_status = 0) {
    rewind();
    const int report = memfd_create("time", 0);  // inherited: /usr/bin/time writes it
    if (report < 0) die_errno("memfd_create");
    const std::string report_path = "/dev/fd/" + std::to_string(report);
    std::vector<char*> argv = {const_cast<char*>(kTime),
                               const_cast<char*>("-f"),
                               const_cast<char*>("%M %R"),
                               const_cast<char*>("-o"),
                               const_cast<char*>(report_path.c_str()),
                               const_cast<char*>(program)};
    for (const char* arg : args) argv.push_back(const_cast<char*>(arg));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) die_errno("fork");
    if (pid == 0) {
      if (dup2(in_fd_, STDIN_FILENO) < 0 || dup2(out_fd, STDOUT_FILENO) < 0) _exit(126);
      execve(kTime, argv.data(), env_);
      _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) die_errno("waitpid");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) > max_status) {
      die(std::string(program) + " under " + kTime + " ended with wait status " +
          std::to_string(status));
    }
    if (lseek(report, 0, SEEK_SET) != 0) die_errno("lseek");
    const std::string text = read_all(report);
    close(report);
    // A non-zero status adds a line before the figures: they are the last line.
    const std::size_t line = text.find_last_of('\n', text.size() >= 2 ? text.size() - 2 : 0);
    long kib = -1, faults = -1;
    if (std::sscanf(text.c_str() + (line == std::string::npos ? 0 : line + 1), "%ld %ld", &kib,
                    &faults) != 2 ||
        kib < 0 || faults < 0) {
      die(std::string("unreadable report of ") + kTime + " for " + program + ": " + text);
    }
    return {static_cast<double>(kib) / 1024.0, faults};
  }

 private:
  void rewind() {
    if (lseek(in_fd_, 0, SEEK_SET) != 0) die_errno("lseek");
  }

  int in_fd_;
  std::string type_, length_;
  char* env_[3];
};

// Runs program once on body and returns its answer.
std::string answer_of(const char* program, const Body& body) {
  const int out = memfd_create("answer", MFD_CLOEXEC);
  if (out < 0) die_errno("memfd_create");
  Spawner(body).timed_run(program, out);
  if (lseek(out, 0, SEEK_SET) != 0) die_errno("lseek");
  std::string answer = read_all(out);
  close(out);
  return answer;
}

// Where two texts first differ: the offset of the first differing byte.
std::size_t first_difference(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Runs cgi once with its output captured and compares the output with the
// answer that the library gives for the same request, and, given a baseline
// cgi, with the baseline's answer. Returns the status code of the answer.
// Runs in a forked process so that no answer stays in the runner's memory.
std::string check_answer(const char* cgi, const char* baseline, const Body& body) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) die_errno("pipe");
  const pid_t pid = fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {
    close(pipe_fds[0]);
    const std::string answer = answer_of(cgi, body);
    const std::string before = baseline != nullptr ? answer_of(baseline, body) : answer;

    const std::string length = std::to_string(body.size);
    auto environment = [&](const char* name) -> const char* {
      if (std::strcmp(name, "CONTENT_TYPE") == 0) return kContentType.data();
      if (std::strcmp(name, "CONTENT_LENGTH") == 0) return length.c_str();
      return nullptr;
    };
    if (lseek(body.fd, 0, SEEK_SET) != 0) die_errno("lseek");
    quern::cgi::FdInput input(body.fd);
    quern::StringOutput expected;
    quern::cgi::handle_request(environment, input, expected);

    std::string verdict;
    const std::size_t status = answer.find("Status: ");
    if (answer != expected.text()) {
      verdict = "cgi's answer (" + std::to_string(answer.size()) +
                " bytes) differs from the library's (" + std::to_string(expected.text().size()) +
                " bytes)";
    } else if (before != answer) {
      verdict = "the baseline's answer (" + std::to_string(before.size()) +
                " bytes) differs from cgi's (" + std::to_string(answer.size()) +
                " bytes) from byte " + std::to_string(first_difference(before, answer)) + " on";
    } else if (status == std::string::npos || status + 11 > answer.size()) {
      verdict = "the answer has no status line";
    } else {
      verdict = "ok " + answer.substr(status + 8, 3);
    }
    const bool written =
        write(pipe_fds[1], verdict.data(), verdict.size()) == static_cast<ssize_t>(verdict.size());
    _exit(written ? 0 : 1);
  }
  close(pipe_fds[1]);
  const std::string verdict = read_all(pipe_fds[0]);
  close(pipe_fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die("checking the answer for " + body.label + " failed");
  }
  if (verdict.rfind("ok ", 0) != 0) {
    die(body.label + (body.half ? " (half)" : "") + " (" + std::to_string(body.size) +
        " bytes): " + verdict);
  }
  return verdict.substr(3);
}

Memory largest(const Memory& a, const Memory& b) {
  return {std::max(a.rss_mib, b.rss_mib), std::max(a.faults, b.faults)};
}

// Runs cgi and floor on body in turns: a few unrecorded runs first, then
// the memory runs (with quern --explain's beside them), then the timed runs.

Result measure(const char* cgi, const char* floor, const char* quern_cli, const Body& body,
               int runs, int null_fd) {
  Spawner spawner(body);
  Result result;
  constexpr int kWarmup = 3, kMemoryRuns = 5;
  for (int i = 0; i < kWarmup; ++i) {
    spawner.timed_run(cgi, null_fd);
    spawner.timed_run(floor, null_fd);
  }
  for (int i = 0; i < kMemoryRuns; ++i) {
    result.cgi = largest(result.cgi, spawner.memory_run(cgi, {}, null_fd));
    result.floor = largest(result.floor, spawner.memory_run(floor, {}, null_fd));
    // quern --explain ends with status 1 for a body that does not compile.
    result.explain =
        largest(result.explain, spawner.memory_run(quern_cli, {"--explain", "-"}, null_fd, 1));
  }
  auto run_cgi = [&] {
    const Times t = spawner.timed_run(cgi, null_fd);
    result.cgi_ms.push_back(t.wall_ms);
    result.cgi_cpu_ms.push_back(t.cpu_ms);
  };
  auto run_floor = [&] {
    const Times t = spawner.timed_run(floor, null_fd);
    result.floor_ms.push_back(t.wall_ms);
    result.floor_cpu_ms.push_back(t.cpu_ms);
  };
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      run_cgi();
      run_floor();
    } else {
      run_floor();
      run_cgi();
    }
  }
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Cost against body size: one body at a time, the current cgi, the baseline
// cgi and the floor run in turns, each of the six orders in rotation.
struct CurvePoint {
  std::string shape;
  std::size_t size = 0;
  std::string status;
  double wall_ms[3] = {}, cpu_ms[3] = {};  // current, baseline, floor
};

CurvePoint measure_curve(const char* const (&programs)[3], const Body& body, int runs,
                         int null_fd) {
  constexpr int kOrders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}, {1, 0, 2}, {0, 2, 1}};
  constexpr int kWarmup = 2;
  Spawner spawner(body);
  for (int i = 0; i < kWarmup; ++i) {
    for (const char* program : programs) spawner.timed_run(program, null_fd);
  }
  std::vector<double> wall[3], cpu[3];
  for (int i = 0; i < runs; ++i) {
    for (const int which : kOrders[i % 6]) {
      const Times t = spawner.timed_run(programs[which], null_fd);
      wall[which].push_back(t.wall_ms);
      cpu[which].push_back(t.cpu_ms);
    }
  }
  CurvePoint point;
  point.shape = body.label;
  point.size = body.size;
  for (int which = 0; which < 3; ++which) {
    point.wall_ms[which] = median(wall[which]);
    point.cpu_ms[which] = median(cpu[which]);
  }
  return point;
}

std::vector<std::size_t> parse_sizes(const char* text) {
  std::vector<std::size_t> sizes;
  const char* at = text;
  for (;;) {
    char* end = nullptr;
    const long value = std::strtol(at, &end, 10);
    if (end == at || value < 1 || static_cast<std::size_t>(value) > quern::shapes::kMaxBody ||
        (*end != ',' && *end != '\0')) {
      die(std::string("bad size list for --curve-sizes: ") + text);
    }
    sizes.push_back(static_cast<std::size_t>(value));
    if (*end == '\0') break;
    at = end + 1;
  }
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  return sizes;
}

int run_curve(const char* cgi, const char* baseline, const char* floor, const char* path,
              const std::vector<std::size_t>& sizes, int runs) {
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) die_errno("open /dev/null");
  FILE* data = std::fopen(path, "w");
  if (data == nullptr) die_errno(std::string("open ") + path);

  // Every answer is checked before anything is timed.
  std::vector<Body> bodies;
  for (const quern::shapes::Shape& shape : quern::shapes::all()) {
    for (const std::size_t size : sizes) {
      const std::string text = shape.make(size);
      bodies.push_back({shape.name, false, text.size(), memory_file(text)});
    }
  }
  std::vector<std::string> statuses;
  for (const Body& body : bodies) statuses.push_back(check_answer(cgi, baseline, body));

  const char* const programs[3] = {cgi, baseline, floor};
  std::vector<CurvePoint> points;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    points.push_back(measure_curve(programs, bodies[i], runs, null_fd));
    points.back().status = statuses[i];
    close(bodies[i].fd);
  }

  std::printf(
      "Cost against body size: medians of %d runs per shape and size; the cgi, the baseline "
      "cgi and floor interleaved.\nms: wall time from spawn to reaped; cpu: the child's user "
      "and system time in ms\n\n",
      runs);
  std::printf("%-22s %5s %6s %8s %8s %8s %8s %8s %8s %8s\n", "shape", "bytes", "status", "base ms",
              "cgi ms", "floor ms", "cgi/base", "base cpu", "cgi cpu", "flr cpu");
  std::fprintf(data, "# shape bytes binary wall_ms cpu_ms floor_wall_ms floor_cpu_ms\n");
  // Per shape: the baseline's points, then the current ones, each by size.
  static constexpr const char* kNames[2] = {"current", "baseline"};
  for (const int which : {1, 0}) {
    for (const CurvePoint& p : points) {
      std::fprintf(data, "%s %zu %s %.4f %.4f %.4f %.4f\n", p.shape.c_str(), p.size, kNames[which],
                   p.wall_ms[which], p.cpu_ms[which], p.wall_ms[2], p.cpu_ms[2]);
    }
  }
  double worst = 0;
  std::string worst_name;
  for (const CurvePoint& p : points) {
    const double ratio = p.wall_ms[0] / p.wall_ms[1];
    std::printf("%-22s %5zu %6s %8.3f %8.3f %8.3f %7.2fx %8.3f %8.3f %8.3f\n", p.shape.c_str(),
                p.size, p.status.c_str(), p.wall_ms[1], p.wall_ms[0], p.wall_ms[2], ratio,
                p.cpu_ms[1], p.cpu_ms[0], p.cpu_ms[2]);
    if (ratio > worst) {
      worst = ratio;
      worst_name = p.shape + " at " + std::to_string(p.size) + " bytes";
    }
  }
  std::printf("\nThe cgi's wall time against the baseline's, worst point: %.2fx (%s)\n", worst,
              worst_name.c_str());
  if (std::fclose(data) != 0) die_errno(std::string("write ") + path);
  return 0;
}

int parse_count(const char* text, const char* option) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 100000) {
    die(std::string("bad count for ") + option + ": " + text);
  }
  return static_cast<int>(value);
}

void usage() {
  die("usage: proc_bench --cgi PATH --floor PATH --quern PATH [--typical-runs N]\n"
      "                  [--extreme-runs N]\n"
      "       proc_bench --cgi PATH --floor PATH --curve FILE --baseline-cgi PATH\n"
      "                  [--curve-runs N] [--curve-sizes N,N,...]\n"
      "       proc_bench --print-body NAME [--body-size N]   (NAME: typical or a shape)\n"
      "       proc_bench --list-bodies                        (the NAMEs, one a line)");
}

// Writes the body named name (typical, or a shape at size bytes) to
// standard output, for load tests that send the same bodies.
int write_body(std::string_view name, std::size_t size) {
  std::string text;
  if (name == "typical") {
    text = kTypical;
  } else {
    const auto& shapes = quern::shapes::all();
    const auto shape = std::find_if(shapes.begin(), shapes.end(),
                                    [&](const quern::shapes::Shape& s) { return name == s.name; });
    if (shape == shapes.end()) die("no body named " + std::string(name));
    if (size > quern::shapes::kMaxBody)
      die("bodies stop at " + std::to_string(quern::shapes::kMaxBody) + " bytes");
    text = shape->make(size);
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    die_errno("write body");
  }
  return 0;
}

const char* mark(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
  const char* cgi = nullptr;
  const char* floor = nullptr;
  const char* quern_cli = nullptr;
  int typical_runs = 300;
  int extreme_runs = 60;
  const char* print_body = nullptr;
  std::size_t body_size = quern::shapes::kMaxBody;
  const char* curve = nullptr;
  const char* baseline = nullptr;
  int curve_runs = 40;
  std::vector<std::size_t> curve_sizes = {4096, 8192, 16384, 32768, 49152, quern::shapes::kMaxBody};
  if (argc == 2 && std::string_view(argv[1]) == "--list-bodies") {
    std::printf("typical\n");
    for (const quern::shapes::Shape& shape : quern::shapes::all()) std::printf("%s\n", shape.name);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) usage();
    const char* value = argv[++i];
    if (arg == "--cgi") {
      cgi = value;
    } else if (arg == "--floor") {
      floor = value;
    } else if (arg == "--quern") {
      quern_cli = value;
    } else if (arg == "--typical-runs") {
      typical_runs = parse_count(value, "--typical-runs");
    } else if (arg == "--extreme-runs") {
      extreme_runs = parse_count(value, "--extreme-runs");
    } else if (arg == "--print-body") {
      print_body = value;
    } else if (arg == "--body-size") {
      body_size = static_cast<std::size_t>(parse_count(value, "--body-size"));
    } else if (arg == "--curve") {
      curve = value;
    } else if (arg == "--baseline-cgi") {
      baseline = value;
    } else if (arg == "--curve-runs") {
      curve_runs = parse_count(value, "--curve-runs");
    } else if (arg == "--curve-sizes") {
      curve_sizes = parse_sizes(value);
    } else {
      usage();
    }
  }
  if (print_body != nullptr) return write_body(print_body, body_size);
  if (cgi == nullptr || floor == nullptr) usage();
  if ((curve == nullptr) != (baseline == nullptr)) usage();
  if (curve != nullptr) return run_curve(cgi, baseline, floor, curve, curve_sizes, curve_runs);
  if (quern_cli == nullptr) usage();

  std::vector<Body> bodies;
  auto add = [&](std::string label, bool half, const std::string& text) {
    bodies.push_back({std::move(label), half, text.size(), memory_file(text)});
  };
  add("typical", false, std::string(kTypical));
  for (const quern::shapes::Shape& shape : quern::shapes::all()) {
    add(shape.name, false, shape.make(quern::shapes::kMaxBody));
    add(shape.name, true, shape.make(quern::shapes::kMaxBody / 2));
  }

  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) die_errno("open /dev/null");

  std::vector<Result> results;
  for (const Body& body : bodies) {
    const std::string status = check_answer(cgi, nullptr, body);
    const int runs = body.label == "typical" ? typical_runs : extreme_runs;
    results.push_back(measure(cgi, floor, quern_cli, body, runs, null_fd));
    results.back().status = status;
  }

  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf(
      "Process cost: medians of %d runs (typical) and %d runs (each shape and size), cgi "
      "and floor interleaved.\nms: wall time from spawn to reaped; cpu: the child's user "
      "and system time in ms\n\n",
      typical_runs, extreme_runs);
  std::printf("%-29s %5s %6s %8s %8s %9s %8s %8s %8s\n", "body", "bytes", "status", "cgi ms",
              "floor ms", "cgi/floor", "cgi cpu", "flr cpu", "cpu rat");
  double typical_ratio = 0;
  double worst_extreme = 0;
  std::string worst_extreme_name;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const Body& body = bodies[i];
    const Result& r = results[i];
    const double cgi_ms = median(r.cgi_ms), floor_ms = median(r.floor_ms);
    const double ratio = cgi_ms / floor_ms;
    const std::string name = body.label + (body.half ? " (half)" : "");
    const double cgi_cpu = median(r.cgi_cpu_ms), floor_cpu = median(r.floor_cpu_ms);
    std::printf("%-29s %5zu %6s %8.3f %8.3f %8.2fx %8.3f %8.3f %7.2fx\n", name.c_str(), body.size,
                r.status.c_str(), cgi_ms, floor_ms, ratio, cgi_cpu, floor_cpu, cgi_cpu / floor_cpu);
    if (body.label == "typical") {
      typical_ratio = ratio;
    } else if (!body.half && ratio > worst_extreme) {
      worst_extreme = ratio;
      worst_extreme_name = body.label;
    }
  }

  std::printf(
      "\nMemory: peak RSS in MiB and minor page faults, the largest of 5 runs under %s; "
      "'-flr' is above the floor's peak\n\n",
      kTime);
  std::printf("%-29s %8s %8s %8s %8s %8s %8s %8s %8s\n", "body", "cgi MiB", "flr MiB", "cgi-flr",
              "cgi flt", "flr flt", "expl MiB", "expl-flr", "expl flt");
  double worst_rss = 0, worst_explain_rss = 0;
  std::string worst_rss_name, worst_explain_rss_name;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const Result& r = results[i];
    const std::string name = bodies[i].label + (bodies[i].half ? " (half)" : "");
    const double above = r.cgi.rss_mib - r.floor.rss_mib;
    const double explain_above = r.explain.rss_mib - r.floor.rss_mib;
    std::printf("%-29s %8.1f %8.1f %8.1f %8ld %8ld %8.1f %8.1f %8ld\n", name.c_str(), r.cgi.rss_mib,
                r.floor.rss_mib, above, r.cgi.faults, r.floor.faults, r.explain.rss_mib,
                explain_above, r.explain.faults);
    if (i == 0 || above > worst_rss) {
      worst_rss = above;
      worst_rss_name = name;
    }
    if (i == 0 || explain_above > worst_explain_rss) {
      worst_explain_rss = explain_above;
      worst_explain_rss_name = name;
    }
  }

  std::printf(
      "\nLinearity: full budget (%zu bytes) against half budget (%zu bytes); "
      "'net' is cgi minus floor\n\n",
      quern::shapes::kMaxBody, quern::shapes::kMaxBody / 2);
  std::printf("%-24s %9s %9s %9s %10s %10s %9s\n", "shape", "full ms", "half ms", "full/half",
              "net full", "net half", "net f/h");
  double worst_linearity = 0;
  std::string worst_linearity_name;
  for (std::size_t i = 1; i + 1 < bodies.size(); i += 2) {
    const double full = median(results[i].cgi_ms), half = median(results[i + 1].cgi_ms);
    const double net_full = full - median(results[i].floor_ms);
    const double net_half = half - median(results[i + 1].floor_ms);
    std::printf("%-24s %9.3f %9.3f %8.2fx %10.3f %10.3f %8.2fx\n", bodies[i].label.c_str(), full,
                half, full / half, net_full, net_half, net_full / net_half);
    if (net_full / net_half > worst_linearity) {
      worst_linearity = net_full / net_half;
      worst_linearity_name = bodies[i].label;
    }
  }

  std::printf("\nThe runner's own peak RSS: %.1f MiB\n\n",
              static_cast<double>(self.ru_maxrss) / 1024);
  std::printf("TARGET typical request <= %.2fx floor: %s (%.2fx)\n", kTypicalTarget,
              mark(typical_ratio <= kTypicalTarget), typical_ratio);
  std::printf("TARGET every %zu-byte extreme <= %.0fx floor: %s (worst %.2fx, %s)\n",
              quern::shapes::kMaxBody, kExtremeTarget, mark(worst_extreme <= kExtremeTarget),
              worst_extreme, worst_extreme_name.c_str());
  std::printf(
      "TARGET peak RSS at most %.0f MiB above the floor's for every body: %s (worst %.1f MiB, "
      "%s)\n",
      kRssAboveFloorMiB, mark(worst_rss <= kRssAboveFloorMiB), worst_rss, worst_rss_name.c_str());
  std::printf(
      "TARGET --explain peak RSS at most %.0f MiB above the floor's: %s (worst %.1f MiB, %s)\n",
      kExplainRssAboveFloorMiB, mark(worst_explain_rss <= kExplainRssAboveFloorMiB),
      worst_explain_rss, worst_explain_rss_name.c_str());
  std::printf("TARGET full/half process cost above the floor <= ~%.1f: %s (worst %.2fx, %s)\n",
              kLinearityTarget, mark(worst_linearity <= kLinearityTarget), worst_linearity,
              worst_linearity_name.c_str());
  return 0;
}
