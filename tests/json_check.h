// Checks on the JSON files the programs write, shared by the native and the
// Windows tests: whether a text is one valid JSON value, and the values of a
// member in the order they appear.
#pragma once

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace json_check {

// A strict JSON reader that only answers whether the text is one valid value.
struct JsonCheck {
  const std::string& s;
  size_t i = 0;
  void Space() { while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i; }
  bool Eat(char c) { Space(); if (i < s.size() && s[i] == c) { ++i; return true; } return false; }
  bool Word(const char* w) { Space(); size_t n = strlen(w); if (s.compare(i, n, w) != 0) return false; i += n; return true; }
  bool String() {
    if (!Eat('"')) return false;
    while (i < s.size() && s[i] != '"') {
      unsigned char c = static_cast<unsigned char>(s[i++]);
      if (c < 0x20) return false;
      if (c == '\\') {
        if (i >= s.size()) return false;
        char e = s[i++];
        if (e == 'u') { for (int k = 0; k < 4; ++k) if (i >= s.size() || !isxdigit(static_cast<unsigned char>(s[i++]))) return false; }
        else if (!strchr("\"\\/bfnrt", e)) return false;
      }
    }
    return Eat('"');
  }
  bool Value() {
    Space();
    if (i >= s.size()) return false;
    if (s[i] == '"') return String();
    if (s[i] == '{' || s[i] == '[') {
      char close = s[i] == '{' ? '}' : ']';
      ++i;
      if (Eat(close)) return true;
      do {
        if (close == '}' && !(String() && Eat(':'))) return false;
        if (!Value()) return false;
      } while (Eat(','));
      return Eat(close);
    }
    if (Word("null") || Word("true") || Word("false")) return true;
    size_t start = i;
    while (i < s.size() && strchr("-+.0123456789eE", s[i])) ++i;
    return i > start;
  }
  bool Whole() { bool ok = Value(); Space(); return ok && i == s.size(); }
};
inline bool ValidJson(const std::string& text) { return JsonCheck{text}.Whole(); }

// The values of every member `name` in order: strings without their quotes
// (escapes left as they are), other values as written.
inline std::vector<std::string> Values(const std::string& json, const std::string& name) {
  std::vector<std::string> values;
  const std::string key = "\"" + name + "\": ";
  for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
    size_t start = at + key.size(), end = start;
    if (start < json.size() && json[start] == '"') {
      for (end = start + 1; end < json.size() && json[end] != '"'; ++end) {
        if (json[end] == '\\') ++end;
      }
      values.push_back(json.substr(start + 1, end - start - 1));
    } else {
      while (end < json.size() && json[end] != ',' && json[end] != '\n' && json[end] != '}') ++end;
      values.push_back(json.substr(start, end - start));
    }
  }
  return values;
}

}  // namespace json_check
