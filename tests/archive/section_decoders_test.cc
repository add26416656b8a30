// Rules every plan-section decoder shares, checked over one realistic payload
// per section: every strict prefix is Truncated (with its true length as the
// available length), trailing bytes are ignored, and decoding then encoding
// gives back the original bytes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/le_bytes.h"
#include "archive/certificates.h"
#include "archive/constants.h"
#include "archive/labels.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "archive/shape_registry.h"
#include "archive/warm_start.h"
#include "archive/weights.h"

namespace tessary {
namespace {

// Decodes a payload and encodes the result again.
using Reencode = std::function<ArchiveResult<Bytes>(ByteView)>;

template <class Decode, class Encode>
Reencode via(Decode decode, Encode encode) {
  return [=](ByteView payload) -> ArchiveResult<Bytes> {
    auto value = decode(payload);
    if (!value) return std::unexpected(value.error());
    return encode(*value);
  };
}

// The warm-start section has no encoder in the library; the test writes one.
ArchiveResult<Bytes> write_warm_start(const std::vector<WarmEntry>& entries) {
  testing::LeBytes w;
  w.u32(static_cast<std::uint32_t>(entries.size()));
  for (const WarmEntry& e : entries) {
    w.u32(e.aux);
    w.bytes(e.label.bytes());
    w.u32(static_cast<std::uint32_t>(e.bytes.size()));
    w.bytes(e.bytes);
  }
  return w.take();
}

struct Case {
  const char* name;
  Bytes payload;
  Reencode reencode;
};

std::vector<Case> cases() {
  std::vector<Case> out;

  std::vector<PortDescriptor> ports = {{"in", {1, 4}, 4, 0, DTypeId::F32}, {"", {}, 1, 9, DTypeId::U8}};
  out.push_back({"ports", *encode_ports(ports), via(decode_ports, [](const auto& v) { return encode_ports(v); })});

  archive::ConstantEntry inline_c{{1, 2, 3, 4, 5}, {}, 3, false, DTypeId::U8};
  archive::ConstantEntry weight_c{{}, blake3_digest(Bytes{1}), 4, true, DTypeId::F32};
  std::vector<archive::ConstantEntry> constants = {inline_c, weight_c, inline_c};
  out.push_back({"constants", *encode_constants(constants),
                 via(decode_constants, [](const auto& v) { return encode_constants(v); })});

  WeightStore weights;
  weights.insert(Bytes(50, 1));
  weights.insert(Bytes(3, 2));
  out.push_back({"weights", *encode_weights(weights), via(decode_weights, encode_weights)});

  PlanSteps steps = {{0, 1}, {}, {2, 3, 4}};
  out.push_back({"exec plan", *encode_exec_plan(steps),
                 via(decode_exec_plan, [](const auto& v) { return encode_exec_plan(v); })});
  out.push_back({"schedule", *encode_schedule(steps),
                 via(decode_schedule, [](const auto& v) { return encode_schedule(v); })});

  ShapeDescriptor s;
  s.rank = 2;
  s.dims[0] = 3;
  s.dims[1] = 5;
  ShapeDescriptor f = s;
  f.further = std::vector<std::uint64_t>{7, 8};
  std::vector<ShapeDescriptor> shapes = {s, f};
  out.push_back({"shape registry", *encode_shape_registry(shapes),
                 via(decode_shape_registry, [](const auto& v) { return encode_shape_registry(v); })});

  std::vector<CertificateRecord> certs = {{blake3_digest(Bytes{}), 32, 32}, {blake3_digest(Bytes{5}), 8, 32}};
  out.push_back({"certificates", *encode_certificates(certs),
                 via(decode_certificates, [](const auto& v) { return encode_certificates(v); })});

  std::vector<WarmEntry> warm = {{7, address_bytes(Bytes{1}), {9, 9, 9}}, {0, address_bytes(Bytes{}), {}}};
  out.push_back({"warm start", *write_warm_start(warm), via(decode_warm_start, write_warm_start)});
  return out;
}

TEST(SectionDecoders, FullPayloadReencodesToTheSameBytes) {
  for (const Case& c : cases()) {
    auto again = c.reencode(c.payload);
    ASSERT_TRUE(again.has_value()) << c.name << ": " << again.error().describe();
    EXPECT_EQ(*again, c.payload) << c.name;
  }
}

TEST(SectionDecoders, TrailingBytesAreIgnored) {
  for (const Case& c : cases()) {
    Bytes longer = c.payload;
    longer.insert(longer.end(), {0xFF, 0x00, 0x7F, 0x80, 0x01});
    auto again = c.reencode(longer);
    ASSERT_TRUE(again.has_value()) << c.name << ": " << again.error().describe();
    EXPECT_EQ(*again, c.payload) << c.name;
  }
}

TEST(SectionDecoders, EveryStrictPrefixIsTruncated) {
  for (const Case& c : cases()) {
    for (std::size_t len = 0; len < c.payload.size(); ++len) {
      auto r = c.reencode(ByteView(c.payload).first(len));
      ASSERT_FALSE(r.has_value()) << c.name << " prefix " << len;
      const ArchiveError& e = r.error();
      ASSERT_EQ(e.kind, ArchiveErrorKind::Truncated) << c.name << " prefix " << len << ": " << e.describe();
      EXPECT_EQ(e.available, len) << c.name;
      EXPECT_GT(e.needed, len) << c.name;
      EXPECT_LE(e.needed, c.payload.size()) << c.name;
      if (len < 4) {
        EXPECT_EQ(e.needed, 4u) << c.name;
      }
    }
  }
}

}  // namespace
}  // namespace tessary
