// Text helpers: the one bounded copy behind every fixed-size field, and
// printf-style formatting checked by the compiler.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace zuro {

/// Copies at most `maxChars` characters of `src` into `dst` (replacing its
/// content). The copy also stops at the first NUL, as a device text does.
/// Returns the number of characters copied.
std::size_t BoundedCopy(std::string& dst, std::string_view src, std::size_t maxChars);

/// C-buffer form: writes at most `dstSize - 1` characters and a terminator.
/// Does nothing when `dst` is null or `dstSize` is 0. `src` may be null.
std::size_t BoundedCopy(char* dst, std::size_t dstSize, const char* src);

/// printf into a new string.
std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrFormatV(const char* format, std::va_list args) __attribute__((format(printf, 1, 0)));

/// printf into a fixed buffer, always terminated, cut to fit. Returns the
/// number of characters stored (not the number that would have been).
std::size_t BufFormat(char* dst, std::size_t dstSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// Upper-case copy in the C locale (bytes above 127 unchanged).
std::string ToUpperAscii(std::string_view text);

}  // namespace zuro
