// Reads an exercise file into its title, task, starting source and cases,
// and lists a course folder. Only the fences matter here: the task stays
// Markdown text for the page to render.
#include "exercise.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace quern::exercise {
namespace {

// The messages, in one place.
const char* const kNoTitle = "no title: the file needs a \"# TITLE\" line";
const char* const kEmptyTitle = "the title is empty";
const char* const kNoCases = "no ```cases block: an exercise needs its visible cases";
const char* const kUnclosed = "this block is never closed";

std::string second_block(std::string_view info) {
  return "a second ```" + std::string(info) + " block";
}

std::string unknown_block(std::string_view info) {
  return "\"```" + std::string(info) +
         "\" is not an exercise block (```quern, ```cases or ```cases hidden)";
}

// The leading spaces of a line that may start a fence or a heading: at most
// three, or npos when there are more (an indented code block).
std::size_t indent_of(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && line[n] == ' ') ++n;
  return n <= 3 ? n : std::string_view::npos;
}

struct Fence {
  char mark = 0;        // '`' or '~'
  std::size_t run = 0;  // how many
  std::size_t indent = 0;
  std::string_view info;  // trimmed
};

std::optional<Fence> opening_fence(std::string_view line) {
  const std::size_t indent = indent_of(line);
  if (indent == std::string_view::npos || indent == line.size()) return std::nullopt;
  const char mark = line[indent];
  if (mark != '`' && mark != '~') return std::nullopt;
  std::size_t end = indent;
  while (end < line.size() && line[end] == mark) ++end;
  if (end - indent < 3) return std::nullopt;
  const std::string_view info = cases::trim_blanks(line.substr(end));
  if (mark == '`' && info.find('`') != std::string_view::npos) return std::nullopt;
  return Fence{mark, end - indent, indent, info};
}

bool closes(const Fence& fence, std::string_view line) {
  const std::size_t indent = indent_of(line);
  if (indent == std::string_view::npos) return false;
  std::size_t end = indent;
  while (end < line.size() && line[end] == fence.mark) ++end;
  return end - indent >= fence.run && cases::trim_blanks(line.substr(end)).empty();
}

// The title of a level-one heading line, or nothing.
std::optional<std::string_view> heading(std::string_view line) {
  const std::size_t indent = indent_of(line);
  if (indent == std::string_view::npos) return std::nullopt;
  line.remove_prefix(indent);
  if (!line.starts_with('#') || (line.size() > 1 && !cases::is_blank(line[1]))) return std::nullopt;
  std::string_view text = cases::trim_blanks(line.substr(1));
  // A closing run of '#' is no part of the title when a blank comes before it.
  std::size_t end = text.size();
  while (end > 0 && text[end - 1] == '#') --end;
  if (end == 0) return std::string_view();
  if (end < text.size() && cases::is_blank(text[end - 1]))
    text = cases::trim_blanks(text.substr(0, end));
  return text;
}

enum class Part { Task, Start, Visible, Hidden };

std::optional<Part> part_of(std::string_view info) {
  const std::string_view word = info.substr(0, std::min(info.find_first_of(" \t"), info.size()));
  if (word != "quern" && word != "cases") return Part::Task;
  if (info == "quern") return Part::Start;
  if (info == "cases") return Part::Visible;
  if (word == "cases" && cases::trim_blanks(info.substr(5)) == "hidden") return Part::Hidden;
  return std::nullopt;
}

// The cases of a block whose first content line is line first + 1 of the
// file, with lines of the file; an empty block is reported at its fence.
std::variant<std::vector<cases::Case>, cases::CaseFileError> block_cases(std::string_view text,
                                                                         int fence_line) {
  auto parsed = cases::parse_cases(text);
  if (auto* error = std::get_if<cases::CaseFileError>(&parsed)) {
    return cases::CaseFileError{error->line == 0 ? fence_line : fence_line + error->line,
                                error->message};
  }
  auto& list = std::get<std::vector<cases::Case>>(parsed);
  for (cases::Case& c : list) c.line += fence_line;
  return std::move(list);
}

}  // namespace

std::variant<Exercise, cases::CaseFileError> parse_exercise(std::string_view text) {
  const std::vector<std::string_view> lines = cases::text_lines(text);

  Exercise exercise;
  std::optional<int> title_line;
  std::optional<int> visible_line;  // the fence line of each block found
  std::optional<int> hidden_line;
  std::string hidden_text;
  std::vector<std::string_view> task;
  std::vector<int> task_lines;  // the line of the file of each
  bool removed = false;         // a part was taken out since the last task line
  const auto keep = [&](std::size_t i) {
    const bool after_gap = removed && !task.empty() && cases::trim_blanks(task.back()).empty();
    if (!(after_gap && cases::trim_blanks(lines[i]).empty())) {
      task.push_back(lines[i]);
      task_lines.push_back(static_cast<int>(i) + 1);
    }
    removed = false;
  };

  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    const std::optional<Fence> fence = opening_fence(lines[i]);
    if (!fence) {
      const std::optional<std::string_view> title = title_line ? std::nullopt : heading(lines[i]);
      if (!title) {
        keep(i);
        continue;
      }
      if (title->empty()) return cases::CaseFileError{number, kEmptyTitle};
      exercise.title = std::string(*title);
      title_line = number;
      removed = true;
      continue;
    }
    std::size_t close = i + 1;
    while (close < lines.size() && !closes(*fence, lines[close])) ++close;
    if (close == lines.size()) return cases::CaseFileError{number, kUnclosed};
    const std::optional<Part> part = part_of(fence->info);
    if (!part) return cases::CaseFileError{number, unknown_block(fence->info)};
    if (*part == Part::Task) {
      for (std::size_t j = i; j <= close; ++j) keep(j);
      i = close;
      continue;
    }
    std::string content;
    for (std::size_t j = i + 1; j < close; ++j) {
      std::string_view line = lines[j];
      std::size_t strip = 0;
      while (strip < fence->indent && strip < line.size() && line[strip] == ' ') ++strip;
      line.remove_prefix(strip);
      content.append(line).push_back('\n');
    }
    switch (*part) {
      case Part::Start:
        if (exercise.start) return cases::CaseFileError{number, second_block(fence->info)};
        exercise.start = std::move(content);
        break;
      case Part::Visible:
        if (visible_line) return cases::CaseFileError{number, second_block(fence->info)};
        visible_line = number;
        exercise.cases_text = std::move(content);
        break;
      case Part::Hidden:
        if (hidden_line) return cases::CaseFileError{number, second_block("cases hidden")};
        hidden_line = number;
        hidden_text = std::move(content);
        break;
      case Part::Task:
        break;
    }
    removed = true;
    i = close;
  }

  if (!title_line) return cases::CaseFileError{0, kNoTitle};
  if (!visible_line) return cases::CaseFileError{0, kNoCases};
  auto visible = block_cases(exercise.cases_text, *visible_line);
  if (auto* error = std::get_if<cases::CaseFileError>(&visible)) return *error;
  exercise.visible = std::move(std::get<std::vector<cases::Case>>(visible));
  if (hidden_line) {
    auto hidden = block_cases(hidden_text, *hidden_line);
    if (auto* error = std::get_if<cases::CaseFileError>(&hidden)) return *error;
    exercise.hidden = std::move(std::get<std::vector<cases::Case>>(hidden));
  }

  std::size_t first = 0;
  std::size_t last = task.size();
  while (first < last && cases::trim_blanks(task[first]).empty()) ++first;
  while (last > first && cases::trim_blanks(task[last - 1]).empty()) --last;
  for (std::size_t i = first; i < last; ++i) {
    exercise.task.append(task[i]).push_back('\n');
    exercise.task_lines.push_back(task_lines[i]);
  }
  return exercise;
}

std::variant<Course, std::string> list_course(const std::string& dir) {
  namespace fs = std::filesystem;
  Course course;
  std::error_code error;
  fs::directory_iterator it(dir, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != ".md" || !it->is_regular_file(error)) continue;
    if (path.filename() == "index.md") {
      course.index = path.string();
    } else {
      course.exercises.push_back(path.string());
    }
  }
  if (error) return "cannot read " + dir + ": " + error.message();
  if (course.exercises.empty()) return dir + ": no exercise file (*.md besides index.md)";
  std::sort(course.exercises.begin(), course.exercises.end());
  return course;
}

}  // namespace quern::exercise
