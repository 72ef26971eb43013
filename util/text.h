// Text from stored bytes. Stored texts are not always zero-terminated: every function here
// takes the bytes as a span and never reads past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tamsel {

// The bytes up to the first zero byte (or all of them), when they are valid UTF-8; the
// empty text otherwise. Characters that UTF-32 cannot hold become "?".
std::string GetStringFormChar(std::span<const uint8_t> bytes);
inline std::string GetStringFormChar(std::string_view bytes) {
  return GetStringFormChar(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// Decodes the bytes (up to the first zero byte) as UTF-8 into at most `count` UTF-32 units,
// clears the `count` units first and ends what it wrote with a zero unit when room remains.
// Returns the number of characters written; 0 for invalid UTF-8.
size_t Char2Unicode(std::span<const uint8_t> bytes, char32_t* uncode, size_t count);

// The UTF-8 text of UTF-32 units up to their terminating zero; none for none.
std::optional<std::string> GetNSStringDate(const char32_t* wide);

// True when `bytes` are well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool isValidUtf8(std::span<const uint8_t> bytes);

// A stored text as a reader keeps it when it may be damaged: the bytes up to the first zero
// byte; valid UTF-8 stays as it is and each byte of an invalid sequence becomes U+FFFD, so a
// text cut short or overwritten in part keeps what can still be read.
std::string readableText(std::string_view bytes);

// UTF-16 to UTF-8. A leading byte-order mark decides the byte order and is dropped;
// without one `bigEndianDefault` decides. Unpaired surrogates become U+FFFD; an odd last
// byte is ignored.
std::string utf16ToUtf8(std::span<const uint8_t> bytes, bool bigEndianDefault);

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// The code point of the UTF-8 sequence at `text[at]` in `cp`, and its length in bytes; 0 when
// no valid sequence starts there (or `at` is past the end).
size_t decodeUtf8At(std::string_view text, size_t at, char32_t* cp);

// Characters that must not reach a file name or a terminal as they are: the C0 controls,
// DEL, the C1 controls (U+0080 to U+009F) and the bidirectional controls (U+061C, U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069), which reorder what is shown around them.
bool isControlOrBidi(char32_t cp);

// `text` made safe to print on a terminal: the characters above and bytes that are not
// valid UTF-8 are written as escapes ("\x1b", "\u202e"), and a backslash as "\\", so that
// what is printed cannot move the cursor, change colours or reorder the line, and tells
// the escapes apart from the text. Anything else is kept.
std::string escapeForTerminal(std::string_view text);

}  // namespace tamsel
