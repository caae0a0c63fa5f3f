#pragma once
// What the preview worker delivers for one selected file or folder: the bytes
// for the hex pane and, by kind, a text for the text pane or a picture.
#include <cstdint>
#include <vector>

#include "carving/type_catalogue.h"

namespace kestrel {

// Kinds a result can have besides the initial kinds of PreviewKind
// (carving/type_catalogue.h), which a result keeps when no extractor ran or
// the extractor failed.
enum PreviewResultKind : uint32_t {
    kPreviewReadFailed = 2,
    kPreviewUtf16Text = 5,  // messages, extracted text, UTF-16 files
    kPreviewUtf8Text = 6,   // Office Open XML extraction
};

struct PreviewResult {
    uint32_t kind = kPreviewHexOnly;
    std::vector<uint8_t> data;  // the bytes shown in hex (a picture's encoded bytes for kind 3)
    // Kind 4: the data itself in the ANSI code page; kind 5: UTF-16LE code
    // units; kind 6: UTF-8. Empty for the other kinds.
    std::vector<uint8_t> text;
};

}  // namespace kestrel
