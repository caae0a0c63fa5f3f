#pragma once
// The text pane's text of a preview result, whatever its kind carries.
#include "platform/wide_text.h"
#include "preview/preview_result.h"

namespace kestrel {

// Kind 4 (plain text) is read as UTF-8 when it is valid UTF-8 with at least
// one non-ASCII character, else in the ANSI code page: text files written on
// Linux are UTF-8, those from the systems the disks come from GBK, and a GBK
// text of any length is almost never valid UTF-8. Kind 5 is UTF-16LE; kind
// 6 is UTF-8 without its byte-order mark. Other kinds have no text.
WString PreviewTextAsWide(const PreviewResult& result);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF). A sequence cut by the end of the bytes counts as
// well-formed, since previews are prefixes of files.
bool IsWellFormedUtf8(std::string_view bytes);

}  // namespace kestrel
