#pragma once
// Lexical conventions shared by every text frontend: Unicode white space,
// the split into lines, trimming with the base column, and the rejected
// fragment quoted by diagnostics. Columns count bytes, not characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessary {

// Byte length of the Unicode white-space character (White_Space property)
// that starts at `pos`, or 0 when the text there is anything else, including
// an invalid or truncated sequence.
std::size_t white_space_at(std::string_view text, std::size_t pos) noexcept;

// Byte length of the Unicode white-space character that ends at `end`, or 0.
std::size_t white_space_before(std::string_view text, std::size_t end) noexcept;

// Space or horizontal tab: the only white space allowed between tokens.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A line with Unicode white space removed at both ends; `lead` is the number
// of bytes removed at the front, so the line's base column is lead + 1.
struct TrimmedLine {
  std::string_view text;
  std::size_t lead = 0;
  std::uint64_t base_column() const { return static_cast<std::uint64_t>(lead) + 1; }
};

TrimmedLine trim_line(std::string_view line) noexcept;

// Walks a program text line by line: lines end at "\n", one "\r" before the
// end of each line is dropped, and lines are numbered from 1. A text ending in
// "\n" has no extra empty line after it (an empty line would yield nothing).
class LineSplitter {
 public:
  explicit LineSplitter(std::string_view text) : text_(text) {}

  // Stores the next line and its number; false when the text is used up.
  bool next(std::string_view& line, std::uint64_t& number) noexcept;

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::uint64_t number_ = 0;
  bool done_ = false;
};

// The word a diagnostic quotes: leading white space skipped, then everything
// up to the next white-space character; "<eol>" when nothing remains.
std::string rejected_fragment(std::string_view text);

}  // namespace tessary
