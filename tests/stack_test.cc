// The pipeline stack: where the job runs, what surrounds that stack, and how
// a job that ends badly ends the process.
#include "stack.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace quern {
namespace {

struct Mapping {
  std::uintptr_t start = 0, end = 0;
  char perms[5] = {};
};

// The process's mappings as /proc/self/maps lists them. The text is read
// into a static buffer first, so reading does not itself map memory.
std::vector<Mapping> mappings() {
  static char text[1 << 20];
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::size_t size = 0;
  for (;;) {
    const ssize_t n = read(fd, text + size, sizeof text - 1 - size);
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  close(fd);
  text[size] = '\0';
  std::vector<Mapping> result;
  for (const char* line = text; *line != '\0';) {
    Mapping m;
    if (std::sscanf(line, "%" SCNxPTR "-%" SCNxPTR " %4s", &m.start, &m.end, m.perms) == 3) {
      result.push_back(m);
    }
    while (*line != '\0' && *line != '\n') ++line;
    if (*line == '\n') ++line;
  }
  return result;
}

const Mapping* containing(const std::vector<Mapping>& maps, std::uintptr_t address) {
  for (const Mapping& m : maps) {
    if (m.start <= address && address < m.end) return &m;
  }
  return nullptr;
}

std::uintptr_t frame_address() {
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

thread_local int g_thread_value = 0;

// A reservation of a few MiB, not a multiple of the page size.
constexpr std::size_t kSize = pipeline_stack_size(3001);

TEST(Stack, RunsTheJobOnceOnTheCallingThread) {
  const pthread_t caller = pthread_self();
  g_thread_value = 7;
  int runs = 0;
  bool same_thread = false;
  int seen_value = 0;
  run_on_large_stack(kSize, [&] {
    ++runs;
    same_thread = pthread_equal(pthread_self(), caller) != 0;
    seen_value = g_thread_value;
    g_thread_value = 8;
  });
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(same_thread);
  EXPECT_EQ(seen_value, 7);
  EXPECT_EQ(g_thread_value, 8);
}

// The job's frames lie in a mapping of the requested size (rounded up to
// whole pages) above a guard that cannot be touched, and that mapping is gone
// once the call returns.
TEST(Stack, JobRunsAboveAGuardAndTheStackIsUnmappedAfter) {
  const std::uintptr_t caller_frame = frame_address();
  std::uintptr_t job_frame = 0;
  Mapping stack, below;
  run_on_large_stack(kSize, [&] {
    job_frame = frame_address();
    const std::vector<Mapping> maps = mappings();
    if (const Mapping* m = containing(maps, job_frame)) {
      stack = *m;
      // The stack may be listed in parts that differ only in paging advice.
      while (const Mapping* next = containing(maps, stack.start - 1)) {
        if (std::strcmp(next->perms, stack.perms) != 0) break;
        stack.start = next->start;
      }
      if (const Mapping* g = containing(maps, stack.start - 1)) below = *g;
    }
  });
  ASSERT_NE(stack.end, 0u) << "the job's frame is in no mapping";
  EXPECT_FALSE(stack.start <= caller_frame && caller_frame < stack.end);
  EXPECT_STREQ(stack.perms, "rw-p");
  // The usable part: everything above the guard, and the job near its top.
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  EXPECT_LT(job_frame - stack.start, kSize + page);
  EXPECT_GT(job_frame - stack.start, kSize - (1u << 20));
  EXPECT_GE(stack.end - stack.start, kSize);
  EXPECT_LT(stack.end - stack.start, kSize + page);
  // The guard right below it.
  EXPECT_STREQ(below.perms, "---p");
  EXPECT_EQ(below.end, stack.start);
  EXPECT_GE(below.end - below.start, kPipelineStackGuard);

  EXPECT_EQ(containing(mappings(), job_frame), nullptr) << "the pipeline stack is still mapped";
}

// Recursion far deeper than a thread's usual stack allows.
[[gnu::noinline]] std::size_t recurse(std::size_t depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  frame[sizeof frame - 1] = static_cast<char>(depth);
  const std::size_t below = depth == 0 ? 0 : recurse(depth - 1) + 1;
  return below + static_cast<std::size_t>(frame[0] == frame[sizeof frame - 1]) - 1;
}

TEST(Stack, RecursionDeeperThanTheThreadStackFits) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &limit), 0);
  std::size_t bytes = std::size_t{64} << 20;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < (std::size_t{256} << 20)) {
    bytes = std::max<std::size_t>(bytes, 2 * static_cast<std::size_t>(limit.rlim_cur));
  }
  const std::size_t depth = bytes / 4096;
  std::size_t reached = 0;
  run_on_large_stack(2 * bytes, [&] { reached = recurse(depth); });
  EXPECT_EQ(reached, depth);
}

TEST(Stack, CallsNestEachOnAStackOfItsOwn) {
  std::uintptr_t outer = 0, inner = 0, outer_after = 0;
  run_on_large_stack(kSize, [&] {
    outer = frame_address();
    run_on_large_stack(kSize, [&] { inner = frame_address(); });
    outer_after = frame_address();
  });
  EXPECT_NE(outer, 0u);
  EXPECT_NE(inner, 0u);
  EXPECT_EQ(outer_after, outer);
  const std::uintptr_t distance = outer > inner ? outer - inner : inner - outer;
  EXPECT_GE(distance, kSize - (1u << 20));
}

TEST(Stack, ManyCallsInARow) {
  int runs = 0;
  for (int i = 0; i < 1000; ++i) run_on_large_stack(kSize, [&] { ++runs; });
  EXPECT_EQ(runs, 1000);
}

TEST(StackDeathTest, OutOfMemoryInTheJobIsAnInternalFailure) {
  EXPECT_EXIT(run_on_large_stack(kSize, [] { throw std::bad_alloc(); }),
              ::testing::ExitedWithCode(101), "^internal failure: out of memory\n$");
}

TEST(StackDeathTest, AnExceptionFromTheJobIsAnInternalFailure) {
  EXPECT_EXIT(run_on_large_stack(kSize, [] { throw std::runtime_error("left the job early"); }),
              ::testing::ExitedWithCode(101), "^internal failure: left the job early\n$");
  EXPECT_EXIT(run_on_large_stack(kSize, [] { throw 42; }), ::testing::ExitedWithCode(101),
              "^internal failure: the compile pipeline ended by an unknown exception\n$");
}

// A stack that cannot be mapped (here: more than the address space holds)
// ends the process with a diagnostic that says so; the job never runs.
TEST(StackDeathTest, AStackThatCannotBeMappedIsAnInternalFailure) {
  EXPECT_EXIT(run_on_large_stack(std::size_t{1} << 60, [] { std::fputs("ran", stderr); }),
              ::testing::ExitedWithCode(101),
              "^internal failure: cannot map the pipeline stack \\([0-9]+ KiB\\): "
              "Cannot allocate memory\n$");
}

}  // namespace
}  // namespace quern
