#pragma once
// Texts are UTF-16 inside the system; these convert to and from UTF-8 for
// paths, terminals and files. Invalid sequences become U+FFFD, never a crash.
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

using WString = std::u16string;
using WStringView = std::u16string_view;

std::string Utf8FromWide(WStringView text);
WString Utf16FromUtf8(std::string_view bytes);
// Length of a NUL-terminated UTF-16 text, at most maxLen units.
size_t WideLength(const char16_t* text, size_t maxLen = SIZE_MAX);

}  // namespace kestrel
