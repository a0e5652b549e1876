// The cost of one request as the web server pays it: a fresh cgi process per
// request, with the CGI environment and the body on standard input. Each run
// of cgi is paired with a run of the floor program (a static C program that
// only reads its input and writes a line) fed the same body the same way, so
// that the ratio cgi/floor is what this service adds to the cost of starting
// any process. Runs of the two alternate, and which one goes first in a pair
// alternates too, so that drift in the machine's load hits both alike.
//
// Both sides are started by posix_spawn (a vfork-style clone, then exec) with
// standard input duplicated from an in-memory file holding the body, rewound
// before each run, and standard output on /dev/null. Wall time runs from just
// before the spawn to the return of wait4, whose rusage gives the child's
// peak resident memory.
//
// Before timing anything, each body's answer from cgi is compared byte for
// byte with the answer the library gives in a forked process, so a
// misconfigured run (a wrong environment, a truncated body) cannot pass for a
// fast one.
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

// Targets: what a request may cost relative to the floor, and its memory.
constexpr double kTypicalTarget = 1.25;
constexpr double kExtremeTarget = 3.0;
constexpr double kRssTargetMiB = 32.0;

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
  std::string text;
  int fd = -1;  // an in-memory file holding text
};

struct Sample {
  double ms;
  double rss_mib;
};

struct Result {
  std::vector<Sample> cgi, floor;
  std::string status;  // the cgi answer's status line
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

class Spawner {
 public:
  explicit Spawner(const Body& body) {
    type_ = "CONTENT_TYPE=" + std::string(kContentType);
    length_ = "CONTENT_LENGTH=" + std::to_string(body.text.size());
    env_[0] = type_.data();
    env_[1] = length_.data();
    env_[2] = nullptr;
  }

  /// Runs program with stdin from in_fd (rewound first) and stdout on
  /// out_fd; checks that it exits with status 0.
  Sample run(const char* program, int in_fd, int out_fd) {
    if (lseek(in_fd, 0, SEEK_SET) != 0) die_errno("lseek");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(program), nullptr};
    const double start = now_ms();
    pid_t pid;
    const int rc = posix_spawn(&pid, program, &actions, nullptr, argv, env_);
    if (rc != 0) {
      errno = rc;
      die_errno(std::string("posix_spawn ") + program);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
      if (errno != EINTR) die_errno("wait4");
    }
    const double end = now_ms();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      die(std::string(program) + " did not exit with status 0 (wait status " +
          std::to_string(status) + ")");
    }
    return {end - start, static_cast<double>(usage.ru_maxrss) / 1024.0};
  }

 private:
  std::string type_, length_;
  char* env_[3];
};

// The answer the library gives for body, computed in a child process so that
// the runner itself stays small (a vfork child's peak RSS can include its
// parent's).
std::string expected_answer(const Body& body) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) die_errno("pipe");
  const pid_t pid = fork();
  if (pid < 0) die_errno("fork");
  if (pid == 0) {
    close(pipe_fds[0]);
    const std::string length = std::to_string(body.text.size());
    auto environment = [&](const char* name) -> const char* {
      if (std::strcmp(name, "CONTENT_TYPE") == 0) return kContentType.data();
      if (std::strcmp(name, "CONTENT_LENGTH") == 0) return length.c_str();
      return nullptr;
    };
    if (lseek(body.fd, 0, SEEK_SET) != 0) _exit(3);
    quern::cgi::FdInput input(body.fd);
    quern::FdOutput output(pipe_fds[1]);
    quern::cgi::handle_request(environment, input, output);
    output.flush();
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string answer = read_all(pipe_fds[0]);
  close(pipe_fds[0]);
  int status = 0;
  if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die("computing the expected answer failed for " + body.label);
  }
  return answer;
}

// Runs cgi once with its output captured, compares it with the library's
// answer, and returns the status line.
std::string check_answer(const char* cgi, const Body& body) {
  const int out = memfd_create("answer", MFD_CLOEXEC);
  if (out < 0) die_errno("memfd_create");
  Spawner(body).run(cgi, body.fd, out);
  if (lseek(out, 0, SEEK_SET) != 0) die_errno("lseek");
  const std::string answer = read_all(out);
  close(out);
  const std::string expected = expected_answer(body);
  if (answer != expected) {
    die("cgi's answer for " + body.label + (body.half ? " (half)" : "") + " (" +
        std::to_string(answer.size()) + " bytes) differs from the library's (" +
        std::to_string(expected.size()) + " bytes)");
  }
  const std::size_t status = answer.find("Status: ");
  if (status == std::string::npos) die("no status line in the answer for " + body.label);
  return answer.substr(status + 8, 3);
}

Result measure(const char* cgi, const char* floor, const Body& body, int runs, int null_fd) {
  Spawner spawner(body);
  constexpr int kWarmup = 3;
  for (int i = 0; i < kWarmup; ++i) {
    spawner.run(cgi, body.fd, null_fd);
    spawner.run(floor, body.fd, null_fd);
  }
  Result result;
  for (int i = 0; i < runs; ++i) {
    if (i % 2 == 0) {
      result.cgi.push_back(spawner.run(cgi, body.fd, null_fd));
      result.floor.push_back(spawner.run(floor, body.fd, null_fd));
    } else {
      result.floor.push_back(spawner.run(floor, body.fd, null_fd));
      result.cgi.push_back(spawner.run(cgi, body.fd, null_fd));
    }
  }
  return result;
}

double median_ms(std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
  const std::size_t n = samples.size();
  return n % 2 == 1 ? samples[n / 2].ms : (samples[n / 2 - 1].ms + samples[n / 2].ms) / 2;
}

double peak_rss(const std::vector<Sample>& samples) {
  double peak = 0;
  for (const Sample& s : samples) peak = std::max(peak, s.rss_mib);
  return peak;
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
  die("usage: proc_bench --cgi PATH --floor PATH [--typical-runs N] [--extreme-runs N]");
}

const char* mark(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
  const char* cgi = nullptr;
  const char* floor = nullptr;
  int typical_runs = 300;
  int extreme_runs = 60;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) usage();
    const char* value = argv[++i];
    if (arg == "--cgi") {
      cgi = value;
    } else if (arg == "--floor") {
      floor = value;
    } else if (arg == "--typical-runs") {
      typical_runs = parse_count(value, "--typical-runs");
    } else if (arg == "--extreme-runs") {
      extreme_runs = parse_count(value, "--extreme-runs");
    } else {
      usage();
    }
  }
  if (cgi == nullptr || floor == nullptr) usage();

  std::vector<Body> bodies;
  bodies.push_back({"typical", false, std::string(kTypical)});
  for (const quern::shapes::Shape& shape : quern::shapes::all()) {
    bodies.push_back({shape.name, false, shape.make(quern::shapes::kMaxBody)});
    bodies.push_back({shape.name, true, shape.make(quern::shapes::kMaxBody / 2)});
  }
  for (Body& body : bodies) body.fd = memory_file(body.text);

  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) die_errno("open /dev/null");

  std::vector<Result> results;
  for (const Body& body : bodies) {
    const std::string status = check_answer(cgi, body);
    const int runs = body.label == "typical" ? typical_runs : extreme_runs;
    results.push_back(measure(cgi, floor, body, runs, null_fd));
    results.back().status = status;
  }

  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  std::printf(
      "Process cost: median wall time from spawn to reaped, %d runs (typical), %d runs "
      "(each shape and size), cgi and floor interleaved\n\n",
      typical_runs, extreme_runs);
  std::printf("%-28s %6s %6s %9s %9s %9s %8s %8s\n", "body", "bytes", "status", "cgi ms",
              "floor ms", "cgi/floor", "cgi MiB", "floor MiB");
  double typical_ratio = 0;
  double worst_extreme = 0, worst_rss = 0;
  std::string worst_extreme_name, worst_rss_name;
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    const Body& body = bodies[i];
    const Result& r = results[i];
    const double cgi_ms = median_ms(r.cgi), floor_ms = median_ms(r.floor);
    const double ratio = cgi_ms / floor_ms;
    const double rss = peak_rss(r.cgi);
    const std::string name = body.label + (body.half ? " (half)" : "");
    std::printf("%-28s %6zu %6s %9.3f %9.3f %8.2fx %8.1f %8.1f\n", name.c_str(), body.text.size(),
                r.status.c_str(), cgi_ms, floor_ms, ratio, rss, peak_rss(r.floor));
    if (body.label == "typical") {
      typical_ratio = ratio;
    } else if (!body.half && ratio > worst_extreme) {
      worst_extreme = ratio;
      worst_extreme_name = body.label;
    }
    if (rss > worst_rss) {
      worst_rss = rss;
      worst_rss_name = name;
    }
  }

  std::printf(
      "\nLinearity: full budget (%zu bytes) against half budget (%zu bytes); "
      "'net' is cgi minus floor\n\n",
      quern::shapes::kMaxBody, quern::shapes::kMaxBody / 2);
  std::printf("%-24s %9s %9s %9s %10s %10s %9s\n", "shape", "full ms", "half ms", "full/half",
              "net full", "net half", "net f/h");
  for (std::size_t i = 1; i + 1 < bodies.size(); i += 2) {
    const double full = median_ms(results[i].cgi), half = median_ms(results[i + 1].cgi);
    const double net_full = full - median_ms(results[i].floor);
    const double net_half = half - median_ms(results[i + 1].floor);
    std::printf("%-24s %9.3f %9.3f %8.2fx %10.3f %10.3f %8.2fx\n", bodies[i].label.c_str(), full,
                half, full / half, net_full, net_half, net_full / net_half);
  }

  std::printf("\nrunner's own peak RSS: %.1f MiB\n\n", static_cast<double>(self.ru_maxrss) / 1024);
  std::printf("TARGET typical request <= %.2fx floor: %s (%.2fx)\n", kTypicalTarget,
              mark(typical_ratio <= kTypicalTarget), typical_ratio);
  std::printf("TARGET every %zu-byte extreme <= %.0fx floor: %s (worst %.2fx, %s)\n",
              quern::shapes::kMaxBody, kExtremeTarget, mark(worst_extreme <= kExtremeTarget),
              worst_extreme, worst_extreme_name.c_str());
  std::printf("TARGET peak RSS < %.0f MiB for every body: %s (worst %.1f MiB, %s)\n", kRssTargetMiB,
              mark(worst_rss < kRssTargetMiB), worst_rss, worst_rss_name.c_str());
  return 0;
}
