#include <gtest/gtest.h>

#include <string>

#include "archive/container.h"
#include "archive/extension_payload.h"

namespace tessary {
namespace {

TEST(ExtensionPayload, KeyLengthKeyThenValue) {
  auto bytes = encode_extension("k\xc3\xa9", Bytes{0, 1, 2});
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, (Bytes{3, 0, 'k', 0xC3, 0xA9, 0, 1, 2}));
  EXPECT_EQ(*encode_extension("", {}), (Bytes{0, 0}));
}

TEST(ExtensionPayload, ReadsBackThroughTheContainer) {
  std::vector<Section> sections;
  sections.push_back({static_cast<std::uint8_t>(SectionKind::Extension), *encode_extension("a", Bytes{9, 9})});
  sections.push_back({static_cast<std::uint8_t>(SectionKind::Extension), *encode_extension(std::string(65535, 'k'), {})});
  auto archive = assemble_archive(sections);
  ASSERT_TRUE(archive.has_value());
  auto loader = TessLoader::from_bytes(*archive);
  ASSERT_TRUE(loader.has_value());
  auto plan = loader->into_plan();
  ASSERT_TRUE(plan.has_value());
  auto ext = plan->extensions();
  ASSERT_TRUE(ext.has_value());
  ASSERT_EQ(ext->size(), 2u);
  EXPECT_EQ((*ext)[0].key, "a");
  EXPECT_EQ(Bytes((*ext)[0].value.begin(), (*ext)[0].value.end()), (Bytes{9, 9}));
  EXPECT_EQ((*ext)[1].key, std::string(65535, 'k'));
  EXPECT_TRUE((*ext)[1].value.empty());
}

TEST(ExtensionPayload, RefusesKeysTheReaderCouldNotTake) {
  EXPECT_EQ(encode_extension(std::string(65536, 'k'), {}).error(),
            ArchiveError::malformed("extension key longer than 65535 bytes"));
  EXPECT_EQ(encode_extension("\xc3", {}).error(), ArchiveError::malformed("extension key is not valid UTF-8"));
}

}  // namespace
}  // namespace tessary
