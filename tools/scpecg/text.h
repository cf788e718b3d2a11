// Text helpers of the scpecg tool: the record's 8-bit texts in JSON and on
// the terminal, base64 for documents, and a JSON printer that keeps sample
// arrays on one line.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace scpecg {

using Json = nlohmann::ordered_json;

// The record's texts are 8-bit ANSI; in JSON each byte becomes the Unicode
// character of the same number (Latin-1), so every byte survives.
std::string Latin1ToUtf8(std::string_view bytes);
// A record's text field of `capacity` bytes, up to its NUL, in UTF-8.
inline std::string FieldText(const char* field, size_t capacity) {
  return Latin1ToUtf8(std::string_view(field, strnlen(field, capacity)));
}
// The inverse of Latin1ToUtf8. False when a character lies beyond U+00FF; *bad receives it.
bool Utf8ToLatin1(std::string_view utf8, std::string* out, uint32_t* bad);

// For the terminal: UTF-8, with control characters shown as \xNN.
std::string Printable(std::string_view latin1);

std::string Base64Encode(std::span<const uint8_t> bytes);
// Standard alphabet with padding; whitespace is not allowed.
bool Base64Decode(std::string_view text, std::vector<uint8_t>* out);

// Objects one key per line; arrays of numbers, strings or null on one line;
// arrays of arrays or objects one element per line.
std::string PrintJson(const Json& value, int indent = 2);

// Rational a * b / c rounded to the nearest integer, halves away from zero,
// with a 64-bit intermediate: how the library converts units.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);

}  // namespace scpecg
