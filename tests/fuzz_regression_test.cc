// Replays the inputs kept for the fuzz targets (fuzz/regressions/ and the
// seed corpus) through the same checks the targets make, so that a fault the
// fuzzer once found stays fixed without running the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../fuzz/harness.h"

namespace {

namespace fs = std::filesystem;
using quern::fuzz::check_assembly_lines;
using quern::fuzz::check_compile;
using quern::fuzz::check_request;
using quern::fuzz::decode_request;
using quern::fuzz::plain_request;

fs::path regressions_dir() {
#ifdef QUERN_FUZZ_REGRESSIONS_DIR
  return QUERN_FUZZ_REGRESSIONS_DIR;
#else
  return fs::path(__FILE__).parent_path().parent_path() / "fuzz" / "regressions";
#endif
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every input of the directory, README files excepted, runs as the compile
// target would, as the request target would (decoded), and as the body of a
// request whose headers are accepted.
void replay(const fs::path& dir) {
  ASSERT_TRUE(fs::is_directory(dir)) << dir;
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file() && !entry.path().filename().string().starts_with("README")) {
      files.push_back(entry.path());
    }
  }
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::string data = read_file(file);
    EXPECT_EQ(check_compile(data), "");
    EXPECT_EQ(check_request(decode_request(data)), "");
    EXPECT_EQ(check_request(plain_request(data)), "");
  }
}

TEST(FuzzRegression, Regressions) {
  replay(regressions_dir());
}

TEST(FuzzRegression, CompileSeeds) {
  replay(regressions_dir().parent_path() / "corpus" / "compile");
}

TEST(FuzzRegression, RequestSeeds) {
  replay(regressions_dir().parent_path() / "corpus" / "request");
}

// The oracle's UTF-8 rule and the library's must agree, on the boundaries of
// each sequence length and on the forms both must refuse.
TEST(FuzzRegression, Utf8Boundaries) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"", true},
      {"\x7F", true},
      {"\xC2\x80", true},
      {"caf\xC3\xA9", true},
      {"\xEF\xBF\xBF", true},
      {"\xF0\x90\x80\x80", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\xC0\x80", false},          // overlong NUL
      {"\xC1\xBF", false},          // overlong
      {"\xE0\x9F\xBF", false},      // overlong three-byte form
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF0\x8F\xBF\xBF", false},  // overlong four-byte form
      {"\xF4\x90\x80\x80", false},  // above U+10FFFF
      {"\xF5\x80\x80\x80", false},
      {"\x80", false},  // lone continuation byte
      {"\xC3", false},  // cut short
      {"\xE2\x82", false},
      {"\xC3\x28", false},  // continuation byte missing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(quern::fuzz::well_formed_utf8(c.text), c.valid);
    EXPECT_EQ(quern::is_valid_utf8(c.text), c.valid);
  }
}

// The assembly check must refuse what the printer must never produce.
TEST(FuzzRegression, AssemblyLineCheck) {
  const struct {
    const char* text;
    bool good;
  } cases[] = {
      {"", true},
      {"_1_w:\n    load a, r0\n    halt\n", true},
      {"caf\xC3\xA9:\n", true},
      {"    halt", false},  // no final line feed
      {"   halt\n", false},
      {"     halt\n", false},
      {"halt\n", false},
      {":\n", false},
      {"a b:\n", false},
      {"\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(check_assembly_lines(c.text).empty(), c.good);
  }
}

// Decoding of request inputs: which headers are set, to what, and the body.
TEST(FuzzRegression, RequestDecoding) {
  using quern::fuzz::ReadMode;
  const struct {
    std::string data;
    std::optional<std::string> type, length;
    ReadMode reads;
    bool failing_output;
    std::string body;
  } cases[] = {
      {"", std::nullopt, std::nullopt, ReadMode::Whole, false, ""},
      {std::string("\x0A\x00xyz", 5), "text/plain; charset=UTF-8", "3", ReadMode::Whole, false,
       "xyz"},
      {std::string("\x05\x00t\0+9\0body", 11), "t", "+9", ReadMode::Whole, false, "body"},
      {std::string("\x7E\x02xyz", 5), "text/plain; charset=UTF-8", "1", ReadMode::Failing, true,
       "xyz"},
      {std::string("\x0E\x09xyz", 5), "text/plain; charset=UTF-8", "0", ReadMode::Whole, false,
       "xyz"},
      {std::string("\x21\x00no end", 8), "no end", std::nullopt, ReadMode::Interrupted, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.data));
    const quern::fuzz::RequestCase r = decode_request(c.data);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.reads, c.reads);
    EXPECT_EQ(r.failing_output, c.failing_output);
    EXPECT_EQ(r.body, c.body);
  }
}

}  // namespace
