// Exercise files: one exercise in a Markdown file, which any Git host shows
// as a page, and a course as a folder of them.
//
// The file is read line by line (LF or CR LF; a byte order mark at the start
// is skipped). A fenced block opens on a line that starts, after at most
// three spaces, with three or more backticks or tildes; the words after them
// are its info string (a backtick fence's info string holds no backtick). It
// closes at the next line that starts, after at most three spaces, with at
// least as many of the same character and holds nothing else but blanks; a
// block left open to the end of the file is an error. Its content lines lose
// as many leading spaces, up to the fence's own, as the fence was indented.
// Three info strings make the exercise's parts:
//   ```quern         the starting source (at most one such block)
//   ```cases         the visible cases, in the case-file format (exactly one)
//   ```cases hidden  the hidden cases, in the same format (at most one)
// and any other info string whose first word is quern or cases is an error.
// The first line outside every block that is a level-one heading ("# TITLE",
// at most three spaces before '#', an optional closing run of '#') is the
// title. The task is every other line as written: the Markdown outside the
// exercise's blocks, other fenced blocks included, without the title line,
// with blank lines at either end dropped and the blank line that a removed
// part leaves doubled kept once.
//
// A course is a folder: every *.md file in it but index.md is an exercise,
// in the byte order of the file names, and index.md, when there is one,
// introduces the course.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "grading/cases.h"

namespace quern::exercise {

struct Exercise {
  std::string title;
  std::string task;                  // Markdown; each line ends with LF
  std::vector<int> task_lines;       // the line of the file of each line of the task
  std::optional<std::string> start;  // the ```quern block's lines, each ending with LF
  std::string cases_text;            // the ```cases block's lines as written, each ending with LF
  std::vector<cases::Case> visible;  // each case's line is its line in the exercise file
  std::vector<cases::Case> hidden;
};

/// An exercise file's exercise, or what is wrong with it: at a line of the
/// file (the case-file reader's messages for a case block, at the line of
/// the file), or (line 0) with the whole file.
std::variant<Exercise, cases::CaseFileError> parse_exercise(std::string_view text);

struct Course {
  std::optional<std::string> index;    // the path of index.md, when there is one
  std::vector<std::string> exercises;  // the paths of the exercise files, in order
};

/// The files of the course in folder dir, or why it cannot be read as one
/// (it cannot be listed, or it holds no exercise file).
std::variant<Course, std::string> list_course(const std::string& dir);

}  // namespace quern::exercise
