#pragma once
// Text extraction for the preview of documents and archives. Each extractor
// gets the whole file in memory (1025 bytes to 32 MiB), does no I/O, and
// returns nothing when the file is not what its name promises or is damaged:
// the preview then shows the hex dump only.
#include <optional>
#include <string>

#include "platform/bytes.h"
#include "platform/wide_text.h"

namespace kestrel {

// Word 97-2003: the piece-table text after the document header line.
std::optional<WString> ExtractWordText(ByteView file);
// Excel 97-2003: sheet names and shared strings after the document header line.
std::optional<WString> ExtractExcelText(ByteView file);
// docx / xlsx / pptx (chosen by the name's extension): the XML text runs,
// UTF-8 after the UTF-8 header line.
std::optional<std::string> ExtractOoxmlText(ByteView file, WStringView fileName);
// ZIP and RAR 1.5-4.x member listings after the listing header line.
std::optional<WString> ListZipMembers(ByteView file);
std::optional<WString> ListRarMembers(ByteView file);

}  // namespace kestrel
