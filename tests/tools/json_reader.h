#pragma once
// A strict JSON parser for the tests (RFC 8259: no trailing commas, no
// comments, no leading zeros, escaped control characters, nothing after the
// value), independent of the tool's writer.
#include <cctype>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessary::tooltest {

struct Json {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool b = false;
  double number = 0;
  std::string text;  // String, and the literal text of a Number
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in document order

  const Json* get(const std::string& key) const {
    for (const auto& [k, v] : members) {
      if (k == key) return &v;
    }
    return nullptr;
  }
  const Json& operator[](const std::string& key) const {
    static const Json missing;
    const Json* v = get(key);
    return v ? *v : missing;
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& s) : s_(s) {}

  // The document, or nothing (with error() saying where it went wrong).
  std::optional<Json> parse() {
    Json v;
    ws();
    if (!value(v, 0)) return std::nullopt;
    ws();
    if (i_ != s_.size()) return bad("trailing text");
    return v;
  }
  const std::string& error() const { return error_; }

 private:
  std::nullopt_t bad(const std::string& why) {
    if (error_.empty()) error_ = why + " at byte " + std::to_string(i_);
    return std::nullopt;
  }
  void ws() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
  }
  bool lit(const char* w) {
    const std::string word(w);
    if (s_.compare(i_, word.size(), word) != 0) return false;
    i_ += word.size();
    return true;
  }
  bool value(Json& v, int depth) {
    if (depth > 64 || i_ >= s_.size()) return (bad("unexpected end"), false);
    const char c = s_[i_];
    if (c == '{') return object(v, depth);
    if (c == '[') return array(v, depth);
    if (c == '"') {
      v.type = Json::Type::String;
      return string(v.text);
    }
    if (lit("true")) {
      v.type = Json::Type::Bool;
      v.b = true;
      return true;
    }
    if (lit("false")) {
      v.type = Json::Type::Bool;
      return true;
    }
    if (lit("null")) return true;
    return number(v);
  }
  bool number(Json& v) {
    const std::size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (i_ >= s_.size() || !digit(s_[i_])) return (bad("bad value"), false);
    if (s_[i_] == '0') {
      ++i_;
    } else {
      while (i_ < s_.size() && digit(s_[i_])) ++i_;
    }
    if (i_ < s_.size() && s_[i_] == '.') {
      ++i_;
      if (i_ >= s_.size() || !digit(s_[i_])) return (bad("bad fraction"), false);
      while (i_ < s_.size() && digit(s_[i_])) ++i_;
    }
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (i_ >= s_.size() || !digit(s_[i_])) return (bad("bad exponent"), false);
      while (i_ < s_.size() && digit(s_[i_])) ++i_;
    }
    v.type = Json::Type::Number;
    v.text = s_.substr(start, i_ - start);
    v.number = std::stod(v.text);
    return true;
  }
  static bool digit(char c) { return c >= '0' && c <= '9'; }
  bool string(std::string& out) {
    ++i_;  // opening quote
    while (i_ < s_.size() && s_[i_] != '"') {
      const auto c = static_cast<unsigned char>(s_[i_]);
      if (c < 0x20) return (bad("raw control character in string"), false);
      if (c != '\\') {
        out += static_cast<char>(c);
        ++i_;
        continue;
      }
      if (++i_ >= s_.size()) break;
      const char e = s_[i_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (i_ + 4 > s_.size()) return (bad("short \\u escape"), false);
          for (int k = 0; k < 4; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(s_[i_ + k]))) return (bad("bad \\u escape"), false);
          }
          out += "\\u" + s_.substr(i_, 4);  // kept escaped: the tests only compare ASCII
          i_ += 4;
          break;
        }
        default:
          return (bad("bad escape"), false);
      }
    }
    if (i_ >= s_.size()) return (bad("unterminated string"), false);
    ++i_;
    return true;
  }
  bool array(Json& v, int depth) {
    v.type = Json::Type::Array;
    ++i_;
    ws();
    if (i_ < s_.size() && s_[i_] == ']') {
      ++i_;
      return true;
    }
    for (;;) {
      Json item;
      ws();
      if (!value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      ws();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == ']') {
        ++i_;
        return true;
      }
      return (bad("expected , or ]"), false);
    }
  }
  bool object(Json& v, int depth) {
    v.type = Json::Type::Object;
    ++i_;
    ws();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      return true;
    }
    for (;;) {
      ws();
      if (i_ >= s_.size() || s_[i_] != '"') return (bad("expected a key"), false);
      std::string key;
      if (!string(key)) return false;
      ws();
      if (i_ >= s_.size() || s_[i_] != ':') return (bad("expected :"), false);
      ++i_;
      ws();
      Json item;
      if (!value(item, depth + 1)) return false;
      v.members.emplace_back(std::move(key), std::move(item));
      ws();
      if (i_ < s_.size() && s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (i_ < s_.size() && s_[i_] == '}') {
        ++i_;
        return true;
      }
      return (bad("expected , or }"), false);
    }
  }

  const std::string& s_;
  std::size_t i_ = 0;
  std::string error_;
};

}  // namespace tessary::tooltest
