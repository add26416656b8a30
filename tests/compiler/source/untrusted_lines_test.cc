// Lines assembled from pieces of the grammar, in random order: every one must
// give no item, an item, or a diagnostic that points inside the line and
// quotes text that is really there.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "compiler/source/frontends/legacy_line_parser.h"
#include "compiler/source/frontends/v2_line_parser.h"

namespace tessary {
namespace {

const std::string kPieces[] = {"let ",  "input ", "const ", "output ", "op ",  "f32",    "[",   "]",  "(",
                               ")",     "=",      ":",      ",",       " ",    "\t",     "x",   "y1", "1",
                               "1e",    "2.5",    "-",      "+",       ".",    "#",      "true", "k=", "axes=",
                               "relu",  "conv2d", ":2x3",   "as=",     "\xC2\xA0", "\xE3\x80\x80", "\x0b",
                               std::string(1, '\0'), "18446744073709551616", "e", "keepdims=", "reduce_sum"};

void check(const std::string& line, const std::expected<std::optional<SourceItem>, SourceDiagnostic>& r) {
  if (r) return;
  const SourceDiagnostic& d = r.error();
  EXPECT_EQ(d.line, 7u);
  EXPECT_GE(d.column, 1u) << line;
  EXPECT_LE(d.column, line.size() + 1) << line;
  EXPECT_FALSE(d.message.empty());
  EXPECT_FALSE(d.rejected.empty()) << line;
  if (d.rejected != "<eol>") {
    EXPECT_NE(line.find(d.rejected), std::string::npos) << line;
  }
}

TEST(UntrustedLines, EveryLineGivesAnItemOrAPlacedDiagnostic) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::uniform_int_distribution<int> length(1, 24);
  for (int i = 0; i < 20000; ++i) {
    std::string line;
    for (int n = length(rng); n > 0; --n) line += kPieces[piece(rng)];
    SourceProgram p;
    check(line, parse_source_line_diagnostic(7, line, p));
    check(line, legacy::parse_legacy_line_diagnostic(7, line, p));
  }
}

}  // namespace
}  // namespace tessary
