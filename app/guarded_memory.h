#pragma once
// The guarded allocator: every large working buffer comes from here. Each
// block carries a header (tag "QM", call-site tag, size) and a trailer byte
// 'M', so a release can detect a damaged header, a write past the end, or a
// pointer this allocator never handed out. Allocation never returns null: a
// failure ends the process with a message.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel {

void* GuardedAlloc(uint32_t size, uint16_t site);
bool GuardedFree(void* p);
uint32_t GuardedCopy(void* dst, const void* src, uint32_t count, uint16_t site);
uint32_t GuardedCopyAt(void* dst, uint32_t offset, const void* src, uint32_t count, uint16_t site);
// User size of a guarded block (0 when the header is not valid).
uint32_t GuardedSize(const void* p);
void DeferFree(void* p);
void FlushDeferred();

uint32_t LiveBytes();
// Number of blocks waiting in the deferred-release list.
size_t DeferredCount();

// The text appended to the first "Mem big" report at 1000 MiB: "RealPartNum:
// %u  " and "[%u,%u] " per real partition. The result set lives above this
// library, so it installs the function; without one nothing is appended.
using ResultSetSummaryFn = std::u16string (*)();
void SetResultSetSummaryHook(ResultSetSummaryFn fn);

struct PhysicalMemory {
    uint32_t totalMiB = 0;
    uint32_t availMiB = 0;
};
bool QueryPhysicalMemory(PhysicalMemory& out);

template <typename T>
T* GuardedNew(uint32_t count, uint16_t site) {
    return static_cast<T*>(GuardedAlloc(count * uint32_t(sizeof(T)), site));
}

}  // namespace kestrel
