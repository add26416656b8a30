#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/hasher.h"
#include "archive/label_list.h"
#include "archive/labels.h"

namespace tessary {
namespace {

std::string hex(const Digest& d) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : d) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 251);
  return b;
}

Bytes concat(std::initializer_list<ByteView> parts) {
  Bytes out;
  for (ByteView p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

ByteView view_of(const KappaLabel& l) { return l.bytes(); }

// Published BLAKE3 hashes (default 32-byte output) of the inputs i % 251.
TEST(Blake3, MatchesPublishedVectors) {
  const std::pair<std::size_t, const char*> vectors[] = {
      {0, "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262"},
      {1, "2d3adedff11b61f14c886e35afa036736dcd87a74d27b5c1510225d0f592e213"},
      {1023, "10108970eeda3eb932baac1428c7a2163b0e924c9a9e25b35bba72b28f70bd11"},
      {1024, "42214739f095a406f3fc83deb889744ac00df831c10daa55189b5d121c855af7"},
      {1025, "d00278ae47eb27b34faecf67b4fe263f82d5412916c1ffd97c8cb7fb814b8444"},
      {2048, "e776b6028c7cd22a4d0ba182a8bf62205d2ef576467e838ed6f2529b85fba24a"},
      {2049, "5f4d72f40d7a5f82b15ca2b2e44b1de3c2ef86c426c95c1af0b6879522563030"},
      {3072, "b98cb0ff3623be03326b373de6b9095218513e64f1ee2edd2525c7ad1e5cffd2"},
      {3073, "7124b49501012f81cc7f11ca069ec9226cecb8a2c850cfe644e327d22d3e1cd3"},
      {4096, "015094013f57a5277b59d8475c0501042c0b642e531b0a1c8f58d2163229e969"},
      {4097, "9b4052b38f1c5fc8b1f9ff7ac7b27cd242487b3d890d15c96a1c25b8aa0fb995"},
  };
  for (const auto& [len, expected] : vectors) {
    EXPECT_EQ(hex(blake3_digest(pattern(len))), expected) << "length " << len;
  }
  EXPECT_EQ(hex(blake3_digest(bytes_of("abc"))),
            "6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85");
}

// Many folds must give the one-shot digest, whatever the piece sizes and
// wherever they fall relative to the 1024-byte chunks and 64-byte blocks.
TEST(Blake3, StreamingEqualsOneShotAcrossChunkBoundaries) {
  for (std::size_t len : {63u, 64u, 65u, 1023u, 1024u, 1025u, 2047u, 2048u, 2049u, 5000u, 9000u}) {
    Bytes data = pattern(len);
    Digest one_shot = blake3_digest(data);
    for (std::size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u, 1023u, 1024u, 1025u}) {
      Blake3Hasher h;
      for (std::size_t at = 0; at < len; at += piece) {
        h = std::move(h).fold_bytes(ByteView(data).subspan(at, std::min(piece, len - at)));
      }
      EXPECT_EQ(h.finalize(), one_shot) << "length " << len << " piece " << piece;
    }
    Blake3Hasher bytewise;
    for (std::uint8_t b : data) bytewise = std::move(bytewise).fold_byte(b);
    EXPECT_EQ(bytewise.finalize(), one_shot) << "length " << len;
  }
}

void expect_well_formed(const KappaLabel& l) {
  std::string_view t = l.text();
  ASSERT_EQ(t.size(), 71u);
  EXPECT_EQ(t.substr(0, 7), "blake3:");
  for (char c : t.substr(7)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << t;
}

TEST(Labels, AddressBytesSpellsTheDigest) {
  EXPECT_EQ(address_bytes({}).text(),
            "blake3:af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
  EXPECT_EQ(address_bytes(bytes_of("abc")).text(),
            "blake3:6437b3ac38465133ffb63b75273a8db548c558465d79db03fd359c6cd5bd9d85");
  for (std::size_t len : {0u, 1u, 100u, 4097u}) {
    Bytes data = pattern(len);
    KappaLabel l = address_bytes(data);
    expect_well_formed(l);
    auto d = decode_blake3(l);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(*d, blake3_digest(data));
  }
}

TEST(Labels, DecodeBlake3RejectsForeignText) {
  const std::string good = std::string(address_bytes(bytes_of("abc")).text());
  ASSERT_TRUE(decode_blake3(good).has_value());
  std::string upper = good;
  ASSERT_EQ(upper[11], 'b');
  upper[11] = 'B';  // "6437b3" -> "6437B3": the same digit in uppercase
  std::string digits = good.substr(7);
  const std::string rejected[] = {
      upper,
      "blake2:" + digits,
      "Blake3:" + digits,
      "xblake3:" + digits,
      "blake3" + digits,              // no colon
      "blake3:" + digits.substr(1),   // 63 digits
      "blake3:" + digits + "0",       // 65 digits
      "blake3::" + digits.substr(1),  // second colon counts as a digit
      "blake3:" + std::string(64, 'g'),
      "",
      ":",
  };
  for (const std::string& s : rejected) EXPECT_FALSE(decode_blake3(s).has_value()) << s;
  EXPECT_FALSE(decode_blake3(KappaLabel{}).has_value());  // the zero placeholder
}

TEST(Labels, DeriveLabelHashesOpParamsAndLabelTexts) {
  const std::uint16_t op = 0x0102;
  const Bytes params = {9, 8, 7};
  const Bytes op_le = {0x02, 0x01};
  KappaLabel a = address_bytes(bytes_of("a"));
  KappaLabel b = address_bytes(bytes_of("b"));

  // No labels: the content label of op and params.
  EXPECT_EQ(derive_label(op, params, {}), address_bytes(concat({op_le, params})));
  EXPECT_EQ(derive_label(op, {}, {}), address_bytes(op_le));

  // With labels: their 71-byte texts follow, in the order given.
  std::vector<KappaLabel> ab = {a, b}, ba = {b, a};
  EXPECT_EQ(derive_label(op, params, ab), address_bytes(concat({op_le, params, view_of(a), view_of(b)})));
  EXPECT_NE(derive_label(op, params, ab), derive_label(op, params, ba));
  EXPECT_NE(derive_label(op, params, ab), derive_label(0x0201, params, ab));
  expect_well_formed(derive_label(op, params, ab));
}

TEST(Labels, BoundaryLabelChainsDigests) {
  const std::uint16_t op = 513;
  const Bytes params = {1, 2, 3, 4};
  const Bytes op_le = {0x01, 0x02};
  Digest acc = blake3_digest(concat({op_le, params}));

  // No labels: the digest of op and params, twice over.
  EXPECT_EQ(derive_label_boundary(op, params, {}), address_bytes(concat({acc, acc})));

  KappaLabel a = address_bytes(bytes_of("a"));
  KappaLabel b = address_bytes(bytes_of("b"));
  Digest da = blake3_digest(bytes_of("a")), db = blake3_digest(bytes_of("b"));
  Digest after_a = blake3_digest(concat({acc, da}));
  std::vector<KappaLabel> ab = {a, b}, ba = {b, a};
  EXPECT_EQ(derive_label_boundary(op, params, std::span(ab).first(1)), KappaLabel::from_digest(after_a));
  EXPECT_EQ(derive_label_boundary(op, params, ab),
            KappaLabel::from_digest(blake3_digest(concat({after_a, db}))));
  EXPECT_NE(derive_label_boundary(op, params, ab), derive_label_boundary(op, params, ba));
  EXPECT_NE(derive_label_boundary(op, params, ab), derive_label(op, params, ab));

  // Any label that does not decode makes it fail.
  std::vector<KappaLabel> with_bad = {a, KappaLabel{}};
  EXPECT_FALSE(derive_label_boundary(op, params, with_bad).has_value());
}

TEST(Labels, OrderEqualityAndHashingFollowTheBytes) {
  std::vector<KappaLabel> labels;
  for (int i = 0; i < 20; ++i) labels.push_back(address_bytes(pattern(i)));
  std::vector<KappaLabel> sorted = labels;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 1; i < sorted.size(); ++i) EXPECT_LT(sorted[i - 1].text(), sorted[i].text());

  // Raw ASCII text (as read from a warm-start section) orders bytewise too.
  std::array<std::uint8_t, 71> raw{};
  raw.fill('z');
  KappaLabel z = KappaLabel::from_raw(raw);
  EXPECT_LT(sorted.back(), z);
  EXPECT_EQ(z.text(), std::string(71, 'z'));

  std::unordered_map<KappaLabel, int> by_label;
  for (int i = 0; i < 20; ++i) by_label[labels[i]] = i;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(by_label.at(address_bytes(pattern(i))), i);
  EXPECT_EQ(std::hash<KappaLabel>{}(labels[3]), std::hash<KappaLabel>{}(address_bytes(pattern(3))));
}

TEST(LabelList, HoldsFourInlineAndSpillsBeyond) {
  std::vector<KappaLabel> labels;
  for (int i = 0; i < 9; ++i) labels.push_back(address_bytes(pattern(i)));

  LabelList list;
  for (int i = 0; i < 4; ++i) list.push_back(labels[i]);
  EXPECT_FALSE(list.spilled());
  for (int i = 4; i < 9; ++i) list.push_back(labels[i]);
  EXPECT_TRUE(list.spilled());
  ASSERT_EQ(list.size(), 9u);
  EXPECT_TRUE(std::ranges::equal(list.span(), labels));

  LabelList copy = list;
  EXPECT_EQ(copy, list);
  EXPECT_EQ(std::hash<LabelList>{}(copy), std::hash<LabelList>{}(list));

  // Same labels in another order, or a prefix, are different keys.
  LabelList prefix{std::span<const KappaLabel>(labels).first(8)};
  EXPECT_NE(prefix, list);
  std::sort(copy.begin(), copy.end());
  EXPECT_NE(copy, list);

  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(list.spilled());
  list.push_back(labels[2]);
  EXPECT_EQ(list, (LabelList{labels[2]}));

  // A list passes straight to derive_label.
  LabelList two{labels[0], labels[1]};
  std::vector<KappaLabel> same = {labels[0], labels[1]};
  EXPECT_EQ(derive_label(7, {}, two), derive_label(7, {}, same));

  std::unordered_map<LabelList, int> memo;
  memo[two] = 1;
  memo[LabelList{labels[1], labels[0]}] = 2;
  EXPECT_EQ(memo.at(LabelList{labels[0], labels[1]}), 1);
  EXPECT_EQ(memo.size(), 2u);
}

}  // namespace
}  // namespace tessary
