#pragma once
// One number space for everything a scan can name: 36..153 file types,
// 221..236 file-system structures, 200..208 item kinds of the scan-state
// file, 238 for nothing recognised. Categories are 6..12.
#include <cstdint>

namespace kestrel {

constexpr uint32_t NO_TYPE = 238;
constexpr uint32_t kFirstFileType = 36;
constexpr uint32_t kLastFileType = 153;
constexpr uint32_t kFirstCategory = 6;
constexpr uint32_t kLastCategory = 12;

}  // namespace kestrel
