#pragma once
// Texts that FAT stores in the ANSI code page of the machine that wrote them
// (GBK on the systems this tool serves): short names and volume labels.
#include <cstddef>
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

// Decodes GBK bytes; a byte that does not start a valid character becomes U+FFFD.
WString WideFromAnsiBytes(const uint8_t* bytes, size_t count);

}  // namespace kestrel
