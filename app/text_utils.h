#pragma once
// Small text and path helpers shared by every layer. Sizes and times are
// formatted the way the browser and the reports show them.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wide_text.h"

namespace kestrel {

// "%0.2f KB" below 1 MiB, "MB" below 1 GiB, "TB" from 1 TiB, "GB" otherwise;
// each figure is truncated to the unit below before the last division.
WString FormatByteSize(uint64_t bytes);
// The same for a count of 512-byte sectors; below 1 GiB the MB figure is a
// whole number (".00").
WString FormatSectorSize(uint64_t sectors);
// "%d-%02d-%02d  %02d:%02d:%02d"; 0 gives "1900-01-01  00:00".
WString FormatPackedTime(uint32_t t);
// The UTC instant (seconds since 1970) of the local time t holds; false for 0
// or an invalid calendar time.
bool PackedTimeToFileTime(uint32_t t, int64_t& unixUtc);
// The running executable's folder (UTF-8) with a trailing '/'; empty on failure.
std::string GetExeFolder();
// False for control codes and "*/:<>?\| and for anything above '~' outside
// the CJK block U+4E00..U+9FA5.
bool IsValidNameChar(char16_t c);
// Replaces every invalid character of the last path component with a random
// digit. Fails for paths of 3 characters or fewer and when the last '/' does
// not lie beyond the fourth character. One trailing '/' is dropped.
bool SanitizeLastComponent(WString& path);
// Succeeds when the folder exists or can be created; otherwise retries once
// with the last component sanitized and, on success, hands that path back.
bool EnsureDirectory(WString& path);
WString WideFromUtf8(std::string_view bytes);

}  // namespace kestrel
