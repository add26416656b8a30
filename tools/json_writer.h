#pragma once
// A small streaming JSON writer: objects, arrays, strings, integers, floats
// and booleans, pretty-printed with two-space indentation. Commas and
// nesting are tracked here so callers only say what comes next.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessary::cli {

class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  // The key of the next member; only inside an object.
  JsonWriter& key(std::string_view k);

  // Strings are escaped as JSON requires; bytes that are not valid UTF-8 are
  // replaced by U+FFFD so the document always parses.
  JsonWriter& value(std::string_view s);
  JsonWriter& value(const char* s) { return value(std::string_view(s)); }
  JsonWriter& value(std::uint64_t v);
  JsonWriter& value(std::int64_t v);
  JsonWriter& value(std::uint32_t v) { return value(static_cast<std::uint64_t>(v)); }
  JsonWriter& value(std::int32_t v) { return value(static_cast<std::int64_t>(v)); }
  JsonWriter& value(bool v);
  // Non-finite floats have no JSON spelling and are written as the strings
  // "nan", "inf" and "-inf".
  JsonWriter& value(double v);
  JsonWriter& null();

  const std::string& text() const { return out_; }

 private:
  void before_value();
  void newline();
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool after_key_ = false;
};

}  // namespace tessary::cli
