#pragma once
// The reassurance line that starts every document text preview: a text that
// could be pulled out of the file tells the user it is intact.
#include <string_view>

#include "platform/wide_text.h"

namespace kestrel {

// Word and Excel previews (UTF-16): a leading space and a blank line after.
WStringView DocumentHeaderUtf16();
// Office Open XML previews (UTF-8): a byte-order mark, no leading space and a
// single CR LF; 132 bytes in all.
std::string_view DocumentHeaderUtf8();

}  // namespace kestrel
