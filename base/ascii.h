// Letter case folding over the ASCII letters only: bytes from 0x80 up, and
// every other character, compare as they are whatever the locale says.
#pragma once

#include <string_view>

inline bool asciiIsDigit(char c) { return c >= '0' && c <= '9'; }

inline bool asciiIsHexDigit(char c) {
  return asciiIsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline char asciiToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char asciiToLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool asciiEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiToUpper(a[i]) != asciiToUpper(b[i])) return false;
  }
  return true;
}

inline bool asciiStartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         asciiEqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Orders names as the outbound listing and the configuration look-up do:
// ASCII letters folded to upper case, ties broken by the raw bytes.
inline bool asciiNameLess(std::string_view a, std::string_view b) {
  std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char x = static_cast<unsigned char>(asciiToUpper(a[i]));
    unsigned char y = static_cast<unsigned char>(asciiToUpper(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}
