#include "core/Text.h"

#include <cstdio>
#include <cstring>

namespace zuro {

std::size_t BoundedCopy(std::string& dst, std::string_view src, std::size_t maxChars) {
  const std::size_t nul = src.find('\0');
  if (nul != std::string_view::npos) {
    src = src.substr(0, nul);
  }
  if (src.size() > maxChars) {
    src = src.substr(0, maxChars);
  }
  dst.assign(src.data(), src.size());
  return dst.size();
}

std::size_t BoundedCopy(char* dst, std::size_t dstSize, const char* src) {
  if (dst == nullptr || dstSize == 0) {
    return 0;
  }
  std::size_t n = 0;
  if (src != nullptr) {
    while (n + 1 < dstSize && src[n] != '\0') {
      dst[n] = src[n];
      ++n;
    }
  }
  dst[n] = '\0';
  return n;
}

std::string StrFormatV(const char* format, std::va_list args) {
  if (format == nullptr) {
    return {};
  }
  std::va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) {
    return {};
  }
  std::string out(static_cast<std::size_t>(needed), '\0');
  std::vsnprintf(out.data(), out.size() + 1, format, args);
  return out;
}

std::string StrFormat(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string out = StrFormatV(format, args);
  va_end(args);
  return out;
}

std::size_t BufFormat(char* dst, std::size_t dstSize, const char* format, ...) {
  if (dst == nullptr || dstSize == 0) {
    return 0;
  }
  std::va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(dst, dstSize, format, args);
  va_end(args);
  if (written < 0) {
    dst[0] = '\0';
    return 0;
  }
  const auto w = static_cast<std::size_t>(written);
  return w < dstSize ? w : dstSize - 1;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return out;
}

}  // namespace zuro
