#pragma once
// The update-sequence fix-up lives with the storage layer.
#if __has_include("storage/ntfs_fixup.h")
#include "storage/ntfs_fixup.h"
#else
#include <cstddef>
#include <cstdint>
namespace kestrel {
bool ApplyNtfsFixup(uint8_t* record, size_t bytes);
}
#endif
