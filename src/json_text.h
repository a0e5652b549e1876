// Pieces of JSON text for the explain answer. The answer is written straight
// out rather than built as a tree of values: a listing runs to hundreds of
// thousands of lines, and a tree of them would cost several times what the
// compile does. Its pieces are short and many, so the writer formats them in
// place in a buffer of its own, with no call per character.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "output.h"
#include "syntax/syntax.h"

namespace quern::json {

/// The most characters that one byte of text takes inside a JSON string
/// ("\u001f").
inline constexpr std::size_t kEscapedBound = 6;
/// The most characters of a number ("-9223372036854775808").
inline constexpr std::size_t kNumberBound = 20;

/// Writes text as the inside of a JSON string at out, which has room for
/// kEscapedBound characters a byte, and returns its end. The text must be
/// valid UTF-8.
char* write_escaped(char* out, std::string_view text);
/// Writes n in decimal at out, which has room for kNumberBound characters,
/// and returns its end.
char* write_number(char* out, int64_t n);

/// Where the answer goes in the page's form: its head, the answer's object
/// with each long array left empty ("[]"), and stretches of those arrays'
/// elements, each "[e,e,...]" of the next elements of one member.
class Stretches {
 public:
  virtual ~Stretches() = default;
  /// The next piece of the head.
  virtual void head(std::string_view text) = 0;
  virtual void stretch(std::string_view member, std::string_view text) = 0;
};

/// A JSON text being written. Pieces go into the writer's buffer; between
/// the elements of an array the writer passes a full stretch of text on to
/// its output, so that a long answer never sits whole in memory. Without an
/// output the text is kept whole (take()).
///
/// The arrays that are members of the answer's object are lists
/// (open_list, item, close_list): for Stretches, a list of more elements
/// than a stretch takes goes in stretches. A stretch holds about kBytes of
/// text: its elements are counted by the size of the list's first kSample,
/// so that a list whose elements keep their text is cut at the same
/// elements every time.
class Writer {
 public:
  static constexpr std::size_t kBytes = 128 * 1024;
  static constexpr std::size_t kSample = 64;

  Writer() = default;
  explicit Writer(Output& output) : output_(&output) {}
  explicit Writer(Stretches& stretches) : stretches_(&stretches) {}
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void put(char c) {
    room(1);
    *at_++ = c;
  }
  void put(std::string_view text) {
    room(text.size());
    std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
  }
  /// A string literal, copied as it is.
  template <std::size_t N>
  void put(const char (&literal)[N]) {
    room(N - 1);
    std::memcpy(at_, literal, N - 1);
    at_ += N - 1;
  }
  /// text as a JSON string.
  void string(std::string_view text) {
    if (text.size() > kLongText) return long_string(text);
    room(text.size() * kEscapedBound + 2);
    *at_++ = '"';
    at_ = write_escaped(at_, text);
    *at_++ = '"';
  }
  /// text as the inside of a JSON string.
  void escaped(std::string_view text);
  void number(int64_t n) {
    room(kNumberBound);
    at_ = write_number(at_, n);
  }
  /// n, or null for 0.
  void number_or_null(int64_t n) {
    if (n == 0) {
      put("null");
    } else {
      number(n);
    }
  }
  /// ,"name": (the comma, the key and the colon of the next member); name
  /// is a literal that needs no escaping.
  template <std::size_t N>
  void key(const char (&name)[N]) {
    room(N + 3);
    at_[0] = ',';
    at_[1] = '"';
    std::memcpy(at_ + 2, name, N - 1);
    at_[N + 1] = '"';
    at_[N + 2] = ':';
    at_ += N + 3;
  }
  /// A position as {"line":L,"column":C}.
  void position(SourcePosition position) {
    put(R"({"line":)");
    number(position.line);
    put(R"(,"column":)");
    number(position.column);
    put('}');
  }
  /// An array of numbers or of strings.
  template <class Numbers>
  void numbers(const Numbers& numbers) {
    put('[');
    bool first = true;
    for (const auto n : numbers) {
      if (!first) put(',');
      first = false;
      number(static_cast<int64_t>(n));
    }
    put(']');
  }

  /// The member name of the answer's object, an array: writes ,"name":[.
  template <std::size_t N>
  void open_list(const char (&name)[N]) {
    key(name);
    open_list(std::string_view(name, N - 1));
  }
  /// Before each element of the list.
  void item() {
    if (list_.items++ == 0) return;
    if (stretches_ != nullptr) return stretch_item();
    put(',');
    spill();
  }
  void close_list();
  /// Between pieces outside lists: passes on a full stretch of text.
  void spill();

  /// Passes on whatever is left; false when the output failed.
  bool finish();
  /// The whole text, for a writer without an output.
  std::string take();

 private:
  // A string longer than this is escaped a piece at a time.
  static constexpr std::size_t kLongText = 4096;
  // What the writer holds before it passes text on.
  static constexpr std::size_t kStretch = std::size_t{1} << 16;

  struct List {
    std::string_view member;
    std::size_t start = 0;  // where its text starts in the buffer: its "["
    std::size_t items = 0;  // its elements begun
    std::size_t count = 0;  // its elements in the buffer
    std::size_t step = 0;   // elements a stretch, 0 until known
    bool open = false;
    bool split = false;  // it goes in stretches
  };

  std::size_t used() const { return static_cast<std::size_t>(at_ - buffer_.get()); }
  void room(std::size_t n) {
    if (static_cast<std::size_t>(end_ - at_) < n) grow(n);
  }
  void grow(std::size_t n);
  void long_string(std::string_view text);
  void open_list(std::string_view member);
  void stretch_item();
  void emit_stretch();
  void pass_on();

  Output* output_ = nullptr;
  Stretches* stretches_ = nullptr;
  bool ok_ = true;
  List list_;
  // The buffer, up to end_, is room to write, left uninitialised so that
  // only what is written touches memory; at_ is where the next piece goes.
  std::unique_ptr<char[]> buffer_;
  char* at_ = nullptr;
  char* end_ = nullptr;
};

/// The same pieces appended to a string, for texts written outside the
/// explain answer (the language server's messages).
void append_string(std::string& out, std::string_view text);
void append_number(std::string& out, int64_t n);
/// ,"key": (the comma, the key and the colon of the next member).
void append_key(std::string& out, std::string_view key);

}  // namespace quern::json

namespace quern {

struct Explanation;
struct AnswerForm;

namespace json {
/// Writes the explain answer of explanation (explain.h) in form; finish()
/// ends it.
void write_answer(const Explanation& explanation, Writer& writer, const AnswerForm& form);
}  // namespace json

}  // namespace quern
