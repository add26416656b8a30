#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler/source/source_document.h"
#include "compiler/source/source_text.h"

namespace tessary {
namespace {

TEST(RejectedFragment, FirstWordOrEol) {
  struct Case {
    std::string text;
    std::string want;
  } cases[] = {{"", "<eol>"},
               {" \t  \t", "<eol>"},
               {"  foo bar", "foo"},
               {"x,y z", "x,y"},
               {"\xE3\x80\x80word\xC2\xA0next", "word"},  // ideographic and no-break spaces
               {"a\x0b" "b", "a"},
               {std::string("n\0l x", 5), std::string("n\0l", 3)},
               {"\xC3\xA9t\xC3\xA9 x", "\xC3\xA9t\xC3\xA9"}};
  for (const auto& c : cases) EXPECT_EQ(rejected_fragment(c.text), c.want) << c.text;
}

TEST(SourceText, TrimAndBaseColumnCountBytes) {
  auto t = trim_line("\t  input x \r\x0c");
  EXPECT_EQ(t.text, "input x");
  EXPECT_EQ(t.base_column(), 4u);
  auto u = trim_line("\xE3\x80\x80\xC2\xA0x\xE2\x80\xA8");  // U+3000, U+00A0 ... U+2028
  EXPECT_EQ(u.text, "x");
  EXPECT_EQ(u.base_column(), 6u);
  EXPECT_EQ(trim_line("   ").text, "");
  // A lone continuation or lead byte is not white space.
  EXPECT_EQ(trim_line("\xC2 x \xE2\x80").text, "\xC2 x \xE2\x80");
}

TEST(SourceText, EveryWhiteSpaceCharacter) {
  const char* spaces[] = {"\t", "\n", "\x0b", "\x0c", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80",
                          "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF",
                          "\xE2\x81\x9F", "\xE3\x80\x80"};
  for (const char* s : spaces) {
    std::string_view v(s);
    EXPECT_EQ(white_space_at(v, 0), v.size()) << s;
    EXPECT_EQ(white_space_before(v, v.size()), v.size()) << s;
  }
  for (const char* s : {"a", "\xE2\x80\x8B", "\xE2\x80\x8C", "\xC2\xA1", "\xE3\x80\x81", "\x1c", "\xE1\xA0\x8E"}) {
    EXPECT_EQ(white_space_at(s, 0), 0u) << s;
  }
}

TEST(SourceText, LineSplitting) {
  LineSplitter lines("a\r\n\r\nb\rc\n\nlast\r");
  std::vector<std::pair<std::uint64_t, std::string>> got;
  std::string_view line;
  std::uint64_t n = 0;
  while (lines.next(line, n)) got.emplace_back(n, std::string(line));
  std::vector<std::pair<std::uint64_t, std::string>> want = {
      {1, "a"}, {2, ""}, {3, "b\rc"}, {4, ""}, {5, "last"}};
  EXPECT_EQ(got, want);
  LineSplitter empty("");
  EXPECT_FALSE(empty.next(line, n));
}

SourceProgram program_with(const char* name) {
  SourceProgram p;
  p.intern(name);
  return p;
}

TEST(SelectDiagnostic, WithoutSelector) {
  auto missing = select_diagnostic(SourceDocument{}, std::nullopt);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), (SourceDiagnostic{"", "source graph missing", 1, 1}));

  auto one = select_diagnostic(SourceDocument::single(program_with("x")), std::nullopt);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->names(), std::vector<std::string>{"x"});

  SourceDocument two;
  two.graphs.push_back({program_with("a"), "a"});
  two.graphs.push_back({program_with("b"), std::nullopt});
  auto amb = select_diagnostic(std::move(two), std::nullopt);
  ASSERT_FALSE(amb.has_value());
  EXPECT_EQ(amb.error(), (SourceDiagnostic{"", "source graph ambiguous", 1, 1}));
}

TEST(SelectDiagnostic, WithSelector) {
  auto unnamed = select_diagnostic(SourceDocument::single(program_with("x")), "x");
  ASSERT_FALSE(unnamed.has_value());
  EXPECT_EQ(unnamed.error(), (SourceDiagnostic{"", "source graph not found", 1, 1}));
  EXPECT_EQ(select_diagnostic(SourceDocument{}, "").error().message, "source graph not found");

  auto doc = [] {
    SourceDocument d;
    d.graphs.push_back({program_with("first"), "a"});
    d.graphs.push_back({program_with("second"), "b"});
    d.graphs.push_back({program_with("third"), "a"});
    return d;
  };
  EXPECT_EQ(select_diagnostic(doc(), "a").error().message, "source graph ambiguous");
  auto b = select_diagnostic(doc(), "b");
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->names(), std::vector<std::string>{"second"});
  EXPECT_EQ(select_diagnostic(doc(), "A").error().message, "source graph not found");
}

}  // namespace
}  // namespace tessary
