#pragma once
// Code-page conversion through iconv. The ANSI code page of the target
// systems is GBK; texts inside the system are UTF-16. Bytes that do not
// decode become U+FFFD; characters the target cannot hold become '?'.
#include <string>
#include <string_view>

#include "platform/wide_text.h"

namespace kestrel {

WString WideFromCodePage(std::string_view bytes, const char* charset);
std::string CodePageFromWide(WStringView text, const char* charset);

// GBK, the ANSI code page of the systems the texts come from.
WString WideFromAnsi(std::string_view bytes);
std::string AnsiFromWide(WStringView text);

}  // namespace kestrel
