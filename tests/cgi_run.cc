#include "cgi_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace quern::testing {
namespace {

std::string read_all(int fd, std::size_t limit = std::string::npos) {
  std::string text;
  char buffer[4096];
  while (text.size() < limit) {
    const std::size_t want = std::min(sizeof buffer, limit - text.size());
    const ssize_t n = read(fd, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

void write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

CgiResult run_cgi(const CgiRun& run) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  if (run.stdout_mode == StdoutMode::kReaderGoneAfter) fcntl(out[0], F_SETPIPE_SZ, 4096);
  if (run.stdout_mode == StdoutMode::kReaderGone) close(out[0]);

  std::vector<std::string> env_strings;
  for (const auto& [k, v] : run.environment) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (run.stdin_mode == StdinMode::kClosed) close(0);
    if (run.stdout_mode == StdoutMode::kClosed) close(1);
    signal(SIGPIPE, SIG_DFL);  // the program must ignore it by itself
    if (run.address_space_limit != 0) {
      const rlimit limit{run.address_space_limit, run.address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    std::vector<char*> argv = {const_cast<char*>(run.program.c_str())};
    for (const std::string& a : run.arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execve(run.program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);

  std::thread writer([&] {
    write_all(in[1], run.input);
    if (run.stdin_mode == StdinMode::kEndlessWriter) {
      const std::string blanks(4096, ' ');
      for (;;) {
        const ssize_t n = write(in[1], blanks.data(), blanks.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the program is gone
      }
    }
    close(in[1]);
  });
  std::thread error_reader;
  CgiResult result;
  error_reader = std::thread([&] { result.err = read_all(err[0]); });
  if (run.stdout_mode == StdoutMode::kCaptured) {
    result.out = read_all(out[0]);
    close(out[0]);
  } else if (run.stdout_mode == StdoutMode::kReaderGoneAfter) {
    result.out = read_all(out[0], run.keep);
    close(out[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  writer.join();
  error_reader.join();
  close(err[0]);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

CgiResult post(const std::string& body, const std::string& program) {
  CgiRun run;
  run.program = program;
  run.environment = {{"CONTENT_TYPE", "text/plain; charset=UTF-8"},
                     {"CONTENT_LENGTH", std::to_string(body.size())}};
  run.input = body;
  return run_cgi(run);
}

}  // namespace quern::testing
