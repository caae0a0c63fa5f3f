#pragma once
// "边扫描边显示": partial results while the scan runs. Partitions whose boot
// records turn up are read and shown at once, runs of loose file records are
// rebuilt as soon as the blocks around them are processed, and signature
// finds join the found-files partition block by block.
#include <cstdint>
#include <vector>

#include "app/scan_state.h"
#include "scan/found_item.h"
#include "scan/scan_session.h"

namespace kestrel {

// The live view's state is kept per session, keyed by its address, and made
// on first use.
//
// Clears the known partition starts, the shown-file index and the
// file-record groups (called when a scan is prepared).
void ResetLiveView(ScanSession& s);
// Drops the session's state; a session that is destroyed should be released
// first, so that a later one at the same address starts afresh.
void ReleaseLiveView(const ScanSession& s);

void LiveStart(ScanSession& s, ScanState& state);
void LiveBootRecord(ScanSession& s, const FoundItem& item, ScanState& state);
void LiveBlockEnd(ScanSession& s, uint64_t blockLba, uint32_t fileRecords,
                  const std::vector<FoundItem>& items);
void LiveSignatureFinds(ScanSession& s, uint64_t blockLba, const std::vector<FoundItem>& items);

}  // namespace kestrel
