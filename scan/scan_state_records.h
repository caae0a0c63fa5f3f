#pragma once
// The layouts of the scan-state file: the identity header and one item record
// per FoundItem with its payload. These functions only encode and decode; the
// file itself is opened and walked in scan_state_file.cpp.
#include <cstdint>
#include <vector>

#include "platform/wide_text.h"
#include "scan/found_item.h"
#include "scan/scan_state_stream.h"

namespace kestrel {

constexpr char kScanStateMagic[4] = {'V', 'R', 'X', '4'};
// The reader keeps the identity in 256 characters with a terminator, so a
// longer one can never be matched.
constexpr uint32_t kMaxIdentityBytes = 510;
// A series entry with more values than this is damage, not data.
constexpr uint32_t kMaxSeriesValues = 0x100000;
// Upper bound on the stored structure of one series item.
constexpr uint32_t kMaxSeriesPayloadBytes = 0x4000000;
constexpr uint32_t kFileRecordSummaryBytes = 37;

// The identity as it is stored: UTF-16LE, no terminator.
std::vector<uint8_t> IdentityBytes(const WString& identity);
// Magic, identity length and identity.
void WriteIdentity(StateWriter& out, const std::vector<uint8_t>& identity);
// False for a short stream, another magic or an identity above 510 bytes.
bool ReadIdentity(StateReader& in, std::vector<uint8_t>& identity);

// One item record: type, LBA, status and the payload its type carries.
void WriteItemRecord(StateWriter& out, const FoundItem& item);
// Reads one item record into item with a fresh payload allocation (owned as
// the catalogue owns its payloads). False, with nothing allocated, on a short
// stream or a series structure that cannot be real.
bool ReadItemRecord(StateReader& in, FoundItem& item);

// Whether items of this kind and status carry a stored series structure, and
// reading one into raw bytes (kept as the item's payload, written back as is).
bool SeriesHasStructure(uint8_t kind, uint8_t status);
bool ReadSeriesStructure(StateReader& in, uint8_t kind, std::vector<uint8_t>& bytes);

}  // namespace kestrel
