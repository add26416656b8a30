#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/frontends/legacy_line_parser.h"
#include "compiler/source/frontends/tessary_frontend.h"

namespace tessary {
namespace {

SourceShape shape(std::initializer_list<std::uint64_t> dims) {
  return *SourceShape::from_dims(std::span<const std::uint64_t>(dims.begin(), dims.size()));
}

TEST(LooksLikeV2, Markers) {
  struct Case {
    const char* text;
    bool v2;
  } cases[] = {{"", false},
               {"let", false},
               {"let x", true},
               {"  let y = relu(x)  ", true},
               {"\xC2\xA0let y", true},
               {"let\ty = relu(x)", false},
               {"# let y = relu(x)", false},
               {"input x: f32[1]", true},
               {"const c: f32[2] = [1, 2]", true},
               {"input x:f32[1]", false},
               {"input x: f32 [1]", false},
               {"inputs x: f32[1]", false},
               {"input f32[", true},
               {"output y", false},
               {"input x :2\nop relu x as=y\noutput y", false},
               {"output y\r\nlet z = relu(y)", true},
               {"Let x = relu()", false}};
  for (const auto& c : cases) EXPECT_EQ(looks_like_v2(c.text), c.v2) << c.text;
}

TEST(LegacySyntax, Shapes) {
  EXPECT_EQ(legacy::parse_shape(":4", "m"), shape({4}));
  EXPECT_EQ(legacy::parse_shape(":1x3x224x224", "m"), shape({1, 3, 224, 224}));
  EXPECT_EQ(legacy::parse_shape(":+2x0x18446744073709551615", "m"), shape({2, 0, UINT64_MAX}));
  EXPECT_EQ(legacy::parse_shape(":1x1x1x1x1x1x1x1", "m"), shape({1, 1, 1, 1, 1, 1, 1, 1}));
  for (const char* bad : {":", "4", ":x", ":2x", ":x2", ":2X3", ":2xx3", ":++2", ":-2", ": 2", ":1x1x1x1x1x1x1x1x1",
                          ":18446744073709551616"}) {
    auto r = legacy::parse_shape(bad, "the message");
    ASSERT_FALSE(r.has_value()) << bad;
    EXPECT_EQ(r.error(), "the message");
  }
}

TEST(LegacySyntax, TokenList) {
  auto t = legacy::token_list("op  relu\tx as=y");
  EXPECT_TRUE(t.covered);
  EXPECT_EQ(t.count, 4u);
  auto bad = legacy::token_list("a b\xC2\xA0" "c");
  EXPECT_FALSE(bad.covered);
  EXPECT_EQ(bad.count, 2u);
  EXPECT_EQ(bad.stop, 3u);
}

TEST(LegacySyntax, ProgramItems) {
  const char* text =
      "# legacy\n"
      "input x :2x3\n"
      "input n\n"
      "  input e :4 ignored tokens\n"
      "const c :2 = 1 2\n"
      "const d :2 = 1 2 3\n"
      "op relu x as=y :4\n"
      "op relu x\n"
      "op add a b as=p as=q :2 :3\n"
      "output y extra\n";
  auto got = parse_ir_diagnostic(text, 0);
  ASSERT_TRUE(got.has_value()) << got.error().message;
  const auto& items = got->items();
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(got->names(), (std::vector<std::string>{"x", "n", "e", "c", "d", "y", "a", "b", "q"}));

  EXPECT_TRUE(items[0] == SourceItem(SourceInput{0, shape({2, 3})}));
  EXPECT_TRUE(items[1] == SourceItem(SourceInput{1, std::nullopt}));
  EXPECT_TRUE(items[2] == SourceItem(SourceInput{2, shape({4})}));
  EXPECT_TRUE(items[3] == SourceItem(SourceConst{3, shape({2}), 2, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}}));
  EXPECT_EQ(std::get<SourceConst>(items[4]).value_count, 3u);
  EXPECT_EQ(std::get<SourceConst>(items[4]).bytes.size(), 12u);

  OpCall relu;
  relu.kind = OpKind::Relu;
  relu.inputs = {0};
  relu.result_shape = shape({4});
  EXPECT_TRUE(items[5] == SourceItem(SourceBinding::op(true, 5, relu)));
  relu.result_shape.reset();
  EXPECT_TRUE(items[6] == SourceItem(SourceBinding::op(false, 0, relu)));
  OpCall add;
  add.kind = OpKind::Add;
  add.inputs = {6, 7};
  add.result_shape = shape({3});
  EXPECT_TRUE(items[7] == SourceItem(SourceBinding::op(true, 8, add)));
  EXPECT_TRUE(items[8] == SourceItem(SourceOutput{5, std::nullopt}));
}

TEST(LegacySyntax, EmptyAndOutputOnlyTexts) {
  auto empty = parse_ir_diagnostic("", 0);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->items().empty());
  EXPECT_TRUE(empty->names().empty());

  auto out = parse_ir_diagnostic("\n\n  output y\n", 0);
  ASSERT_TRUE(out.has_value());
  ASSERT_EQ(out->items().size(), 1u);
  EXPECT_TRUE(out->items()[0] == SourceItem(SourceOutput{0, std::nullopt}));
}

TEST(LegacySyntax, ConstValuesUseTheDecimalConversion) {
  auto r = parse_ir_diagnostic("const c :4 = +1.5 -inf 1e-50 .25", 0);
  ASSERT_TRUE(r.has_value());
  const auto& bytes = std::get<SourceConst>(r->items()[0]).bytes;
  std::uint32_t words[4];
  std::memcpy(words, bytes.data(), 16);
  EXPECT_EQ(words[0], 0x3FC00000u);
  EXPECT_EQ(words[1], 0xFF800000u);
  EXPECT_EQ(words[2], 0x00000000u);
  EXPECT_EQ(words[3], 0x3E800000u);
}

TEST(LegacySyntax, NamesMayHoldAnyNonSpaceBytes) {
  std::string text("input x\0:y :2\noutput x\0:y", 25);
  auto r = parse_ir_diagnostic(text, 0);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->names(), (std::vector<std::string>{std::string("x\0:y", 4)}));
}

TEST(FrontendRegistry, EntriesAndRefusals) {
  auto reg = frontend_registry();
  ASSERT_EQ(reg.size(), 4u);
  EXPECT_EQ(std::vector<std::string_view>(reg[0].languages.begin(), reg[0].languages.end()),
            (std::vector<std::string_view>{"tessary", "tess", "native"}));
  EXPECT_EQ(std::vector<std::string_view>(reg[0].extensions.begin(), reg[0].extensions.end()),
            (std::vector<std::string_view>{"txt"}));
  EXPECT_EQ(std::vector<std::string_view>(reg[1].extensions.begin(), reg[1].extensions.end()),
            (std::vector<std::string_view>{"py", "py3"}));
  EXPECT_EQ(std::vector<std::string_view>(reg[2].languages.begin(), reg[2].languages.end()),
            (std::vector<std::string_view>{"typescript", "ts"}));
  EXPECT_EQ(std::vector<std::string_view>(reg[3].extensions.begin(), reg[3].extensions.end()),
            (std::vector<std::string_view>{"rs"}));
  for (std::size_t i = 1; i < 4; ++i) {
    auto d = reg[i].parse_document_diagnostic_with("input x :2");
    ASSERT_FALSE(d.has_value());
    EXPECT_EQ(d.error(), (SourceDiagnostic{"", "source language unsupported", 1, 1}));
    auto plain = reg[i].parse_document_with("input x :2");
    ASSERT_FALSE(plain.has_value());
    EXPECT_EQ(plain.error(), CompileError::with_message("source language unsupported"));
    EXPECT_EQ(parse_ir_diagnostic("", i).error().message, "source language unsupported");
  }
  EXPECT_EQ(parse_ir_diagnostic("", 4).error().message, "source language unsupported");

  auto ok = reg[0].parse_document_with("input x :2");
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->graphs.size(), 1u);
  EXPECT_FALSE(ok->graphs[0].name.has_value());
  EXPECT_EQ(reg[0].parse_document_with("op Relu x").error(), CompileError::with_message("op: unknown op kind"));
}

}  // namespace
}  // namespace tessary
