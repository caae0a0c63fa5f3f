#pragma once
// The hex pane of the preview: a header line, then one line per 16 bytes
// with the line number, the bytes in hex and the bytes as characters.
#include <cstddef>

#include "platform/bytes.h"
#include "platform/wide_text.h"

namespace kestrel {

// Only the first 128 KiB are shown: a longer dump would not help the user and
// would cost the pane seconds to lay out.
constexpr size_t kHexViewLimit = 0x20000;

// Every line is 78 characters with CR LF, the last without; an empty input
// gives an empty text.
WString FormatHexView(ByteView data);

}  // namespace kestrel
