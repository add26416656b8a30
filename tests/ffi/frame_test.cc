#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "ffi/error.h"
#include "tessary/tessary.h"

namespace {

int32_t feature(const char* name) {
  return tessary_feature_supported(reinterpret_cast<const uint8_t*>(name), std::strlen(name));
}

void expect_no_record() {
  EXPECT_EQ(tessary_last_error(), 0);
  EXPECT_EQ(tessary_last_error_message(), nullptr);
  EXPECT_EQ(tessary_last_error_line(), 0u);
  EXPECT_EQ(tessary_last_error_column(), 0u);
  EXPECT_EQ(tessary_last_error_rejected(), nullptr);
}

TEST(Versions, AreFixed) {
  EXPECT_EQ(tessary_abi_version(), 1);
  EXPECT_EQ(tessary_archive_format_version(), 4);
}

TEST(FeatureQuery, AnswersExactlyTheFeatureTable) {
  for (const char* name : {"abi.v1", "session", "archive.v2", "compile.empty", "compile.source", "source-builder",
                           "errors.locations", "errors.structured", "source-builder.const",
                           "source-builder.const-ref", "source-builder.output-alias"}) {
    EXPECT_EQ(feature(name), 1) << name;
  }
  for (const char* name : {"Session", "session ", "sessio", "archive.v4", "abi.v2", "source-builder.", " session"}) {
    EXPECT_EQ(feature(name), 0) << name;
  }
  expect_no_record();
}

TEST(FeatureQuery, ZeroLengthIsZeroWhateverThePointer) {
  EXPECT_EQ(tessary_feature_supported(nullptr, 0), 0);
  expect_no_record();
  EXPECT_EQ(tessary_feature_supported(reinterpret_cast<const uint8_t*>("session"), 0), 0);
  expect_no_record();
}

TEST(FeatureQuery, NullNameRecordsStringNull) {
  EXPECT_EQ(tessary_feature_supported(nullptr, 3), -1);
  EXPECT_EQ(tessary_last_error(), 10);
  EXPECT_STREQ(tessary_last_error_message(), "string null");
  EXPECT_EQ(tessary_last_error_line(), 0u);
  EXPECT_EQ(tessary_last_error_column(), 0u);
  EXPECT_EQ(tessary_last_error_rejected(), nullptr);
  // A later successful record-keeping call empties the record.
  EXPECT_EQ(feature("session"), 1);
  expect_no_record();
}

TEST(FeatureQuery, InvalidUtf8RecordsStringUtf8) {
  const uint8_t cases[][4] = {{0xFF}, {0xC0, 0x80}, {0xED, 0xA0, 0x80}, {0xF4, 0x90, 0x80, 0x80}, {0xE2, 0x82}};
  const size_t lens[] = {1, 2, 3, 4, 2};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(tessary_feature_supported(cases[i], lens[i]), -1) << i;
    EXPECT_EQ(tessary_last_error(), 10);
    EXPECT_STREQ(tessary_last_error_message(), "string utf8");
  }
  // Well-formed multi-byte text is simply not a feature.
  EXPECT_EQ(feature("s\xC3\xA9ssion"), 0);
  expect_no_record();
}

TEST(LastError, AliasesAreOneFunctionEach) {
  EXPECT_EQ(reinterpret_cast<void*>(&tessary_last_error), reinterpret_cast<void*>(&tessary_last_error_code));
  EXPECT_EQ(reinterpret_cast<void*>(&tessary_last_error_message), reinterpret_cast<void*>(&tessary_error_message));
  EXPECT_EQ(tessary_feature_supported(nullptr, 1), -1);
  EXPECT_EQ(tessary_last_error(), tessary_last_error_code());
  EXPECT_EQ(tessary_last_error_message(), tessary_error_message());
  // Accessors only read.
  EXPECT_EQ(tessary_last_error_message(), tessary_last_error_message());
  EXPECT_EQ(tessary_last_error(), 10);
}

TEST(LastError, RecordsArePerThread) {
  ASSERT_EQ(tessary_feature_supported(nullptr, 2), -1);
  int32_t other_code = -7;
  const char* other_message = reinterpret_cast<const char*>(1);
  std::thread([&] {
    other_code = tessary_last_error();
    other_message = tessary_last_error_message();
    // A failure here stays on this thread.
    const uint8_t bad = 0xFF;
    tessary_feature_supported(&bad, 1);
  }).join();
  EXPECT_EQ(other_code, 0);
  EXPECT_EQ(other_message, nullptr);
  EXPECT_EQ(tessary_last_error(), 10);
  EXPECT_STREQ(tessary_last_error_message(), "string null");
}

TEST(LastError, ManyThreadsSeeOnlyTheirOwnFailures) {
  constexpr int kThreads = 8;
  bool ok[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ok] {
      bool good = true;
      for (int i = 0; i < 2000; ++i) {
        const bool fail_null = ((i + t) % 2) == 0;
        const uint8_t bad = 0xFF;
        if (fail_null) {
          good &= tessary_feature_supported(nullptr, 5) == -1;
          good &= std::strcmp(tessary_last_error_message(), "string null") == 0;
        } else {
          good &= tessary_feature_supported(&bad, 1) == -1;
          good &= std::strcmp(tessary_last_error_message(), "string utf8") == 0;
        }
        good &= tessary_last_error() == 10;
      }
      ok[t] = good;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(ok[t]) << t;
}

using tessary::ffi::FfiError;

TEST(ErrorRecord, CopiesLocationAndFragment) {
  FfiError e;
  e.code = 1;
  e.message = "let: missing '='";
  e.line = 3;
  e.column = 17;
  e.rejected = std::string("y relu x");
  tessary::ffi::error_code(e);
  EXPECT_EQ(tessary_last_error(), 1);
  EXPECT_STREQ(tessary_last_error_message(), "let: missing '='");
  EXPECT_EQ(tessary_last_error_line(), 3u);
  EXPECT_EQ(tessary_last_error_column(), 17u);
  EXPECT_STREQ(tessary_last_error_rejected(), "y relu x");
  tessary::ffi::clear_error();
  expect_no_record();
}

TEST(ErrorRecord, MessageWithNulEmptiesTheRecord) {
  tessary::ffi::error_code(tessary::ffi::ffi_error(5, "shape bad"));
  ASSERT_EQ(tessary_last_error(), 5);
  FfiError e;
  e.code = 1;
  e.message = std::string_view("bad\0message", 11);
  tessary::ffi::error_code(e);
  expect_no_record();
}

TEST(ErrorRecord, FragmentWithNulIsDropped) {
  FfiError e;
  e.code = 1;
  e.message = "op: bad";
  e.line = 2;
  e.rejected = std::string("a\0b", 3);
  tessary::ffi::error_code(e);
  EXPECT_EQ(tessary_last_error(), 1);
  EXPECT_STREQ(tessary_last_error_message(), "op: bad");
  EXPECT_EQ(tessary_last_error_line(), 2u);
  EXPECT_EQ(tessary_last_error_rejected(), nullptr);
  tessary::ffi::clear_error();
}

struct Classification {
  const char* message;
  int32_t code;
  const char* result;
};

TEST(SourceParseError, ClassifiesByFirstMatchingRule) {
  const Classification cases[] = {
      {"op: unresolved input", 2, "op: unresolved input"},
      {"output: unknown/!node source", 2, "output: unknown/!node source"},
      {"input: duplicate name", 2, "input: duplicate name"},
      {"op: bad shape", 5, "op: bad shape"},
      {"const: byte len", 5, "const: byte len"},
      {"const: value count mismatch", 5, "const: value count mismatch"},
      {"external const: byte len mismatch", 6, "external const: byte len mismatch"},
      {"external const", 6, "external const"},
      {"an external const: short read", 1, "an external const: short read"},  // not a prefix
      {"op: unknown op kind", 3, "source op unknown"},
      {"external const: unknown op", 3, "source op unknown"},  // rule 1 comes first
      {"shape: duplicate", 5, "shape: duplicate"},             // rule 3 before rule 4
      {"let: missing '='", 1, "let: missing '='"},
      {"Unknown op", 1, "Unknown op"},  // case-sensitive
      {"", 1, ""},
  };
  for (const auto& c : cases) {
    FfiError e = tessary::ffi::source_parse_error(c.message);
    EXPECT_EQ(e.code, c.code) << c.message;
    EXPECT_EQ(e.message, c.result) << c.message;
    EXPECT_EQ(e.line, 0u);
    EXPECT_EQ(e.column, 0u);
    EXPECT_FALSE(e.rejected.has_value());
  }
}

}  // namespace
