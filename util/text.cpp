#include "util/text.h"

#include <algorithm>
#include <cstring>

namespace tamsel {
namespace {

// Decodes one UTF-8 sequence at `p` (bounded by `end`); returns its length, 0 if invalid.
size_t decodeUtf8(const uint8_t* p, const uint8_t* end, char32_t* cp) {
  uint8_t b0 = p[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  size_t len;
  char32_t min;
  char32_t v;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, min = 0x80, v = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, min = 0x800, v = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, min = 0x10000, v = b0 & 0x07;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (p[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

std::span<const uint8_t> upToZero(std::span<const uint8_t> bytes) {
  auto it = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return bytes.first(static_cast<size_t>(it - bytes.begin()));
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp <= 0x10FFFF) {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back('?');
  }
}

bool isValidUtf8(std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* end = p + bytes.size();
  while (p < end) {
    char32_t cp;
    size_t n = decodeUtf8(p, end, &cp);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

std::string GetStringFormChar(std::span<const uint8_t> bytes) {
  auto text = upToZero(bytes);
  if (!isValidUtf8(text)) return {};
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

size_t Char2Unicode(std::span<const uint8_t> bytes, char32_t* uncode, size_t count) {
  if (uncode == nullptr || count == 0) return 0;
  std::fill(uncode, uncode + count, U'\0');
  auto text = upToZero(bytes);
  if (!isValidUtf8(text)) return 0;
  size_t written = 0;
  const uint8_t* p = text.data();
  const uint8_t* end = p + text.size();
  while (p < end && written < count) {
    char32_t cp = 0;
    p += decodeUtf8(p, end, &cp);
    uncode[written++] = cp;
  }
  if (written < count) uncode[written] = U'\0';
  return written;
}

std::optional<std::string> GetNSStringDate(const char32_t* wide) {
  if (wide == nullptr) return std::nullopt;
  std::string out;
  for (const char32_t* p = wide; *p != U'\0'; ++p) appendUtf8(out, *p);
  return out;
}

std::string utf16ToUtf8(std::span<const uint8_t> bytes, bool bigEndianDefault) {
  bool be = bigEndianDefault;
  size_t i = 0;
  if (bytes.size() >= 2) {
    if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
      be = true, i = 2;
    } else if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
      be = false, i = 2;
    }
  }
  auto unitAt = [&](size_t k) -> char16_t {
    return be ? static_cast<char16_t>((bytes[k] << 8) | bytes[k + 1])
              : static_cast<char16_t>((bytes[k + 1] << 8) | bytes[k]);
  };
  std::string out;
  while (i + 1 < bytes.size()) {
    char16_t u = unitAt(i);
    i += 2;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < bytes.size()) {
        char16_t lo = unitAt(i);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          i += 2;
          appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(lo) - 0xDC00));
          continue;
        }
      }
      appendUtf8(out, 0xFFFD);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

std::string readableText(std::string_view text) {
  if (size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    // Runs of plain ASCII are copied as they are.
    size_t plain = at;
    while (plain < text.size() && static_cast<unsigned char>(text[plain]) < 0x80) ++plain;
    out.append(text, at, plain - at);
    at = plain;
    if (at >= text.size()) break;
    char32_t cp = 0;
    const size_t n = decodeUtf8At(text, at, &cp);
    if (n == 0) {
      appendUtf8(out, U'\uFFFD');
      ++at;
    } else {
      out.append(text, at, n);
      at += n;
    }
  }
  return out;
}

size_t decodeUtf8At(std::string_view text, size_t at, char32_t* cp) {
  if (at >= text.size()) return 0;
  const auto* begin = reinterpret_cast<const uint8_t*>(text.data());
  return decodeUtf8(begin + at, begin + text.size(), cp);
}

bool isControlOrBidi(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

std::string escapeForTerminal(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const size_t len = decodeUtf8At(text, i, &cp);
    if (len == 0) {
      const auto b = static_cast<uint8_t>(text[i++]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
      continue;
    }
    if (cp == '\\') {
      out += "\\\\";
    } else if (cp < 0x80 && isControlOrBidi(cp)) {
      out += "\\x";
      out += kHex[cp >> 4];
      out += kHex[cp & 15];
    } else if (isControlOrBidi(cp)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

}  // namespace tamsel
