#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/container.h"
#include "archive/writer.h"

namespace tessary {
namespace {

Bytes header(uint16_t version, uint16_t count) {
  ByteWriter w;
  w.u32(kTessMagic);
  w.u16(version);
  w.u16(0);
  w.u16(count);
  return w.take();
}

// Appends the BLAKE3 trailer over everything so far.
Bytes seal(Bytes body) {
  Digest d = blake3_digest(body);
  body.insert(body.end(), d.begin(), d.end());
  return body;
}

void table_entry(Bytes& out, uint8_t kind, uint64_t offset, uint64_t length) {
  ByteWriter w;
  w.u8(kind);
  w.zeros(7);
  w.u64(offset);
  w.u64(length);
  out.insert(out.end(), w.buffer().begin(), w.buffer().end());
}

Bytes archive_of(const std::vector<Section>& sections) {
  auto bytes = assemble_archive(sections);
  EXPECT_TRUE(bytes.has_value());
  return *bytes;
}

// Payloads from string literals keep embedded NUL bytes.
template <size_t N>
Bytes payload(const char (&s)[N]) {
  return Bytes(s, s + N - 1);
}
Bytes payload(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(Loader, RejectsShortInputAsTruncated) {
  for (size_t len : {0u, 1u, 10u, 41u}) {
    Bytes b(len, 0);
    if (len >= 4) std::memcpy(b.data(), "TESS", 4);
    auto r = TessLoader::from_bytes(b);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), ArchiveError::truncated(42, len));
  }
}

TEST(Loader, SmallestArchiveIsFortyTwoBytes) {
  Bytes b = seal(header(4, 0));
  ASSERT_EQ(b.size(), 42u);
  auto loader = TessLoader::from_bytes(b);
  ASSERT_TRUE(loader.has_value());
  auto plan = loader->into_plan();
  ASSERT_TRUE(plan.has_value());
  EXPECT_TRUE(plan->table().empty());
  EXPECT_FALSE(plan->section(SectionKind::KernelCalls).has_value());
  EXPECT_TRUE(plan->extensions()->empty());
  EXPECT_EQ(0, std::memcmp(loader->digest().data(), b.data() + 10, 32));
}

TEST(Loader, ChecksMagicThenVersion) {
  Bytes b = seal(header(4, 0));
  b[0] = 'X';
  auto r = TessLoader::from_bytes(b);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::bad_magic({'X', 'E', 'S', 'S'}));

  for (uint16_t v : {0, 1, 5, 0xFFFF}) {
    auto bad = TessLoader::from_bytes(seal(header(v, 0)));
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error(), ArchiveError::unsupported_version(v));
  }
  for (uint16_t v : {2, 3, 4}) {
    Bytes ok = seal(header(v, 0));
    auto loaded = TessLoader::from_bytes(ok);
    ASSERT_TRUE(loaded.has_value()) << v;
    EXPECT_TRUE(loaded->into_plan().has_value());
  }
}

TEST(Loader, VersionsTwoToFourReadIdentically) {
  Bytes base = archive_of({{1, payload("calls")}, {9, payload("ports")}, {14, payload("\x01\x00kv")}});
  for (uint16_t v : {2, 3, 4}) {
    Bytes b(base.begin(), base.end() - 32);
    b[4] = static_cast<uint8_t>(v);
    b = seal(b);
    auto plan = TessLoader::from_bytes(b)->into_plan();
    ASSERT_TRUE(plan.has_value());
    ASSERT_EQ(plan->table().size(), 3u);
    auto calls = plan->section(SectionKind::KernelCalls);
    ASSERT_TRUE(calls.has_value());
    EXPECT_EQ(std::string(calls->begin(), calls->end()), "calls");
    auto ext = plan->extensions();
    ASSERT_TRUE(ext.has_value());
    ASSERT_EQ(ext->size(), 1u);
    EXPECT_EQ((*ext)[0].key, "k");
    EXPECT_EQ(std::string((*ext)[0].value.begin(), (*ext)[0].value.end()), "v");
  }
}

TEST(Loader, EverySingleByteFlipIsCaught) {
  Bytes good = archive_of({{1, payload("\x00\x00\x00\x00")}, {3, payload("\x00\x00\x00\x00")},
                           {14, payload("\x03\x00keyvalue")}});
  ASSERT_TRUE(TessLoader::from_bytes(good).has_value());
  for (size_t i = 0; i < good.size(); ++i) {
    Bytes b = good;
    b[i] ^= 0x01;
    auto r = TessLoader::from_bytes(b);
    ASSERT_FALSE(r.has_value()) << "offset " << i;
    ArchiveErrorKind want = i < 4   ? ArchiveErrorKind::BadMagic
                            : i < 6 ? ArchiveErrorKind::UnsupportedVersion
                                    : ArchiveErrorKind::DigestMismatch;
    EXPECT_EQ(r.error().kind, want) << "offset " << i;
  }
}

TEST(Loader, CountBeyondTheBytesIsTruncatedDespiteAValidDigest) {
  // Count 3 over 74 bytes: entry 0 is real, entry 1 (bytes 34..58) reads the
  // 8 payload bytes and the trailer with a valid kind byte, entry 2 would end
  // at 82.
  Bytes body = header(4, 3);
  table_entry(body, 1, 34, 8);
  const uint8_t data[] = {1, 0, 0, 0, 0, 0, 0, 0};
  body.insert(body.end(), data, data + 8);
  Bytes b = seal(body);
  ASSERT_EQ(b.size(), 74u);
  auto loader = TessLoader::from_bytes(b);
  ASSERT_TRUE(loader.has_value());
  auto plan = loader->into_plan();
  ASSERT_FALSE(plan.has_value());
  EXPECT_EQ(plan.error(), ArchiveError::truncated(82, 74));
}

TEST(Loader, SectionKindsOutsideOneToSixteenAreMalformed) {
  for (uint8_t kind : {0, 17, 255}) {
    Bytes body = header(4, 1);
    table_entry(body, kind, 34, 0);
    auto plan = TessLoader::from_bytes(seal(body))->into_plan();
    ASSERT_FALSE(plan.has_value()) << int(kind);
    EXPECT_EQ(plan.error(), ArchiveError::malformed("unknown section kind"));
  }
  Bytes reserved = archive_of({{5, payload("a")}, {7, payload("b")}, {8, {}}, {15, payload("c")}, {16, {}},
                               {1, payload("calls")}});
  auto plan = TessLoader::from_bytes(reserved)->into_plan();
  ASSERT_TRUE(plan.has_value());
  EXPECT_EQ(plan->table().size(), 6u);
  auto calls = plan->section(SectionKind::KernelCalls);
  ASSERT_TRUE(calls.has_value());
  EXPECT_EQ(std::string(calls->begin(), calls->end()), "calls");
}

TEST(Plan, FirstEntryOfAKindWinsEvenWithABadRange) {
  Bytes b = archive_of({{9, payload("first")}, {9, payload("second")}});
  auto plan = TessLoader::from_bytes(b)->into_plan();
  auto inputs = plan->section(SectionKind::Inputs);
  ASSERT_TRUE(inputs.has_value());
  EXPECT_EQ(std::string(inputs->begin(), inputs->end()), "first");

  // First Inputs entry runs past the end, the second is fine: no section.
  Bytes body = header(4, 2);
  const uint64_t data = 10 + 48;
  table_entry(body, 9, data, 1000);
  table_entry(body, 9, data, 2);
  body.push_back('o');
  body.push_back('k');
  auto plan2 = TessLoader::from_bytes(seal(body))->into_plan();
  ASSERT_TRUE(plan2.has_value());
  EXPECT_FALSE(plan2->section(SectionKind::Inputs).has_value());
}

TEST(Plan, RangesAreCheckedWithoutOverflow) {
  Bytes body = header(4, 3);
  table_entry(body, 1, UINT64_MAX, 2);         // offset + length wraps
  table_entry(body, 9, 2, UINT64_MAX);         // length alone too large
  table_entry(body, 10, 0, 10 + 72 + 32);      // exactly the whole archive, trailer included
  Bytes b = seal(body);
  ASSERT_EQ(b.size(), 10u + 72 + 32);
  auto plan = TessLoader::from_bytes(b)->into_plan();
  ASSERT_TRUE(plan.has_value());
  EXPECT_FALSE(plan->section(SectionKind::KernelCalls).has_value());
  EXPECT_FALSE(plan->section(SectionKind::Inputs).has_value());
  auto all = plan->section(SectionKind::Outputs);
  ASSERT_TRUE(all.has_value());
  EXPECT_EQ(all->size(), b.size());
}

TEST(Extensions, DecodeKeysAndValuesInTableOrder) {
  Bytes b = archive_of({{14, payload(std::string("\x01\x00" "a", 3) + "one")},
                        {1, payload("x")},
                        {14, payload(std::string("\x01\x00" "a", 3) + "two")},
                        {14, payload(std::string("\x00\x00", 2))}});
  auto ext = TessLoader::from_bytes(b)->into_plan()->extensions();
  ASSERT_TRUE(ext.has_value());
  ASSERT_EQ(ext->size(), 3u);
  EXPECT_EQ((*ext)[0].key, "a");
  EXPECT_EQ(std::string((*ext)[0].value.begin(), (*ext)[0].value.end()), "one");
  EXPECT_EQ((*ext)[1].key, "a");  // duplicates are kept
  EXPECT_EQ(std::string((*ext)[1].value.begin(), (*ext)[1].value.end()), "two");
  EXPECT_EQ((*ext)[2].key, "");
  EXPECT_TRUE((*ext)[2].value.empty());
}

TEST(Extensions, BadPayloadsAreRejected) {
  struct Case {
    std::string payload;
    ArchiveError error;
  };
  const Case cases[] = {
      {std::string("\x05", 1), ArchiveError::truncated(2, 1)},
      {"", ArchiveError::truncated(2, 0)},
      {std::string("\x05\x00" "abc", 5), ArchiveError::truncated(7, 5)},
      {std::string("\x01\x00\xFF", 3), ArchiveError::malformed("extension key is not valid UTF-8")},
  };
  for (const auto& c : cases) {
    auto ext = TessLoader::from_bytes(archive_of({{14, payload(c.payload)}}))->into_plan()->extensions();
    ASSERT_FALSE(ext.has_value());
    EXPECT_EQ(ext.error(), c.error) << ext.error().describe();
  }
  // An extension entry whose range runs past the archive.
  Bytes body = header(4, 1);
  table_entry(body, 14, 30, 100);
  Bytes b = seal(body);
  auto ext = TessLoader::from_bytes(b)->into_plan()->extensions();
  ASSERT_FALSE(ext.has_value());
  EXPECT_EQ(ext.error(), ArchiveError::truncated(130, b.size()));
}

TEST(Assemble, LaysOutHeaderTablePayloadsAndTrailer) {
  Bytes b = archive_of({{1, payload("abc")}, {14, payload("\x00\x00z")}});
  ASSERT_EQ(b.size(), 10u + 48 + 6 + 32);
  const uint8_t head[] = {'T', 'E', 'S', 'S', 4, 0, 0, 0, 2, 0};
  EXPECT_EQ(0, std::memcmp(b.data(), head, 10));
  EXPECT_EQ(b[10], 1);
  for (int i = 11; i < 18; ++i) EXPECT_EQ(b[i], 0);
  EXPECT_EQ(load_le64(b.data() + 18), 58u);
  EXPECT_EQ(load_le64(b.data() + 26), 3u);
  EXPECT_EQ(b[34], 14);
  EXPECT_EQ(load_le64(b.data() + 42), 61u);
  EXPECT_EQ(load_le64(b.data() + 50), 3u);
  EXPECT_EQ(std::string(b.begin() + 58, b.begin() + 64), std::string("abc\x00\x00z", 6));
  Digest d = blake3_digest(ByteView(b).first(b.size() - 32));
  EXPECT_EQ(0, std::memcmp(d.data(), b.data() + b.size() - 32, 32));
}

TEST(Assemble, RefusesMoreThan65535Sections) {
  std::vector<Section> many(65535, Section{14, Bytes{0, 0}});
  auto ok = assemble_archive(many);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(load_le16(ok->data() + 8), 65535);
  many.push_back(Section{14, Bytes{0, 0}});
  auto refused = assemble_archive(many);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind, ArchiveErrorKind::Malformed);
}

TEST(Writer, EmptyWriterIsNinetyEightBytes) {
  auto b = TessWriter{}.finish();
  ASSERT_TRUE(b.has_value());
  ASSERT_EQ(b->size(), 98u);
  auto loader = TessLoader::from_bytes(*b);
  ASSERT_TRUE(loader.has_value());
  auto plan = loader->into_plan();
  ASSERT_TRUE(plan.has_value());
  ASSERT_EQ(plan->table().size(), 2u);
  EXPECT_EQ(plan->table()[0].kind, 1);
  EXPECT_EQ(plan->table()[1].kind, 3);
  for (SectionKind k : {SectionKind::KernelCalls, SectionKind::Weights}) {
    auto s = plan->section(k);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(Bytes(s->begin(), s->end()), (Bytes{0, 0, 0, 0}));
  }
}

TEST(Writer, ExtensionsFollowInInsertionOrderAndRoundTrip) {
  TessWriter w;
  w.add_extension("model", payload("tiny"));
  w.add_extension("empty", {});
  auto b = std::move(w).finish();
  ASSERT_TRUE(b.has_value());
  auto ext = TessLoader::from_bytes(*b)->into_plan()->extensions();
  ASSERT_TRUE(ext.has_value());
  ASSERT_EQ(ext->size(), 2u);
  EXPECT_EQ((*ext)[0].key, "model");
  EXPECT_EQ(std::string((*ext)[0].value.begin(), (*ext)[0].value.end()), "tiny");
  EXPECT_EQ((*ext)[1].key, "empty");
  EXPECT_TRUE((*ext)[1].value.empty());
}

TEST(Writer, RefusesTooManyExtensions) {
  TessWriter w;
  for (int i = 0; i < 65534; ++i) w.add_extension("", {});  // plus two fixed sections
  auto b = std::move(w).finish();
  ASSERT_FALSE(b.has_value());
  EXPECT_EQ(b.error().kind, ArchiveErrorKind::Malformed);
}

// Any byte string is safe to hand to the loader: a cheap deterministic sweep
// of random and mutated inputs, checked under the sanitizers in CI.
TEST(Loader, ArbitraryBytesNeverMisbehave) {
  Bytes good = archive_of({{1, payload("abcd")}, {14, payload("\x02\x00kkv")}, {9, payload("p")}});
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int iter = 0; iter < 3000; ++iter) {
    // Mutate the body, then re-seal so the checks past the digest run too.
    Bytes b(good.begin(), good.end() - 32);
    const int edits = 1 + static_cast<int>(next() % 4);
    for (int e = 0; e < edits; ++e) b[next() % b.size()] = static_cast<uint8_t>(next());
    if (next() % 5 == 0) b.erase(b.begin() + static_cast<std::ptrdiff_t>(next() % (b.size() + 1)), b.end());
    Bytes sealed = seal(b);
    if (sealed.size() >= 6) {
      std::memcpy(sealed.data(), "TESS", 4);
      sealed[4] = 4;
      sealed[5] = 0;
      Digest d = blake3_digest(ByteView(sealed).first(sealed.size() - 32));
      std::memcpy(sealed.data() + sealed.size() - 32, d.data(), 32);
    }
    auto loader = TessLoader::from_bytes(sealed);
    if (!loader) continue;
    auto plan = loader->into_plan();
    if (!plan) continue;
    for (uint8_t k = 1; k <= 16; ++k) {
      auto s = plan->section(static_cast<SectionKind>(k));
      if (s) {
        volatile uint8_t sink = 0;
        for (uint8_t byte : *s) sink = sink ^ byte;
      }
    }
    (void)plan->extensions();
  }
}

}  // namespace
}  // namespace tessary
