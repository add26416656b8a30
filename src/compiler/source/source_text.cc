#include "compiler/source/source_text.h"

namespace tessary {

namespace {

using U8 = unsigned char;

// The multi-byte white-space characters all share a few lead patterns; this
// decides for a complete sequence of `len` bytes at p.
bool multi_byte_space(const U8* p, std::size_t len) {
  if (len == 2) return p[0] == 0xC2 && (p[1] == 0x85 || p[1] == 0xA0);  // U+0085, U+00A0
  if (len != 3) return false;
  if (p[0] == 0xE1) return p[1] == 0x9A && p[2] == 0x80;                // U+1680
  if (p[0] == 0xE3) return p[1] == 0x80 && p[2] == 0x80;                // U+3000
  if (p[0] != 0xE2) return false;
  if (p[1] == 0x80) {
    return (p[2] >= 0x80 && p[2] <= 0x8A) ||               // U+2000..U+200A
           p[2] == 0xA8 || p[2] == 0xA9 || p[2] == 0xAF;   // U+2028, U+2029, U+202F
  }
  return p[1] == 0x81 && p[2] == 0x9F;                     // U+205F
}

bool single_byte_space(U8 c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

}  // namespace

std::size_t white_space_at(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return 0;
  const auto* p = reinterpret_cast<const U8*>(text.data()) + pos;
  std::size_t avail = text.size() - pos;
  if (single_byte_space(p[0])) return 1;
  if (avail >= 2 && multi_byte_space(p, 2)) return 2;
  if (avail >= 3 && multi_byte_space(p, 3)) return 3;
  return 0;
}

std::size_t white_space_before(std::string_view text, std::size_t end) noexcept {
  if (end == 0 || end > text.size()) return 0;
  const auto* base = reinterpret_cast<const U8*>(text.data());
  if (single_byte_space(base[end - 1])) return 1;
  if (end >= 2 && multi_byte_space(base + end - 2, 2)) return 2;
  if (end >= 3 && multi_byte_space(base + end - 3, 3)) return 3;
  return 0;
}

TrimmedLine trim_line(std::string_view line) noexcept {
  std::size_t begin = 0;
  while (std::size_t n = white_space_at(line, begin)) begin += n;
  std::size_t end = line.size();
  while (end > begin) {
    std::size_t n = white_space_before(line, end);
    if (n == 0 || end - n < begin) break;
    end -= n;
  }
  return {line.substr(begin, end - begin), begin};
}

bool LineSplitter::next(std::string_view& line, std::uint64_t& number) noexcept {
  if (done_ || pos_ >= text_.size()) {
    done_ = true;
    return false;
  }
  std::size_t nl = text_.find('\n', pos_);
  std::size_t end = nl == std::string_view::npos ? text_.size() : nl;
  line = text_.substr(pos_, end - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  number = ++number_;
  if (nl == std::string_view::npos) {
    done_ = true;
  } else {
    pos_ = nl + 1;
  }
  return true;
}

std::string rejected_fragment(std::string_view text) {
  std::size_t begin = 0;
  while (std::size_t n = white_space_at(text, begin)) begin += n;
  if (begin >= text.size()) return "<eol>";
  std::size_t end = begin;
  while (end < text.size() && white_space_at(text, end) == 0) ++end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace tessary
