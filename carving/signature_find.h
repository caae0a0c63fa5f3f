#pragma once
// Signature finds: the sniff that recognises the first sector of a file, the
// analyzers that confirm it and measure its length, and the pending list and
// look-ahead window that let an analysis wait for later blocks of the scan.
#include <cstddef>
#include <cstdint>

namespace kestrel {

constexpr uint32_t kBlockSectors = 0x4000;  // one scan block: 8 MiB
constexpr uint32_t kBlockBytes = 0x800000;
constexpr uint32_t kWindowBlocks = 8;  // look-ahead window: 64 MiB

enum FindStatus : uint32_t {
    kFindUndecided = 0,
    kFindDelivered = 1,      // internal to the analyzers
    kFindUndeliverable = 2,  // internal; stored as rejected
    kFindPending = 3,
    kFindComplete = 4,
    kFindRejected = 5,
};

struct SignatureFind {
    uint32_t typeId;
    uint32_t status;
    uint64_t startSector;
    uint64_t length;
    uint64_t parseOffset;
    uint32_t readSize;
    uint64_t neededFirst;
    uint64_t neededLast;
    uint32_t wordA;
    uint32_t wordB;
    uint8_t bytes[4];
    uint8_t flag;
    uint8_t counter1;
    uint8_t counter2;
    uint8_t spare;
    uint8_t bigEndian;
    void* payload;
};

// Recognises the start of a file in one 512-byte sector; typeId is NO_TYPE
// when nothing is recognised.
bool SniffFileSignature(const uint8_t* sector, uint32_t& typeId);

// Runs the analyzer for the find's type over a buffer that starts at
// bufferStartSector (the current block, or the look-ahead window); stores and
// returns the status.
uint32_t AnalyzeSignatureFind(const uint8_t* buffer, size_t bufferBytes, SignatureFind& find,
                              uint64_t bufferStartSector);

// Where range Y = [c, d] lies relative to range X = [a, b] (both inclusive).
enum SectorRangeRelation : uint32_t {
    kRangeAfter = 0,        // Y lies wholly after X
    kRangeCovers = 1,       // Y covers X
    kRangeBefore = 2,       // Y lies wholly before X
    kRangeInside = 3,       // Y lies inside X
    kRangeCoversEnd = 4,    // Y starts inside X and runs past its end
    kRangeCoversStart = 5,  // Y covers the start of X and ends inside it
    kRangeEmpty = 6,        // one of the ranges is empty
};
uint32_t CompareSectorRanges(uint64_t a, uint64_t b, uint64_t c, uint64_t d);

// A pending find may wait for at most seven blocks of needed sectors.
constexpr uint64_t kMaxPendingRangeSectors = 0x1C000;
// Upper bound on the pending list, so that a medium full of file starts
// cannot make every block's run cost without bound.
constexpr size_t kMaxPendingFinds = 0x10000;

// Called when a pending find's analysis has ended: write its final type,
// status and length into the catalogue item with the same start sector.
using FinalisePendingFind = void (*)(void* context, const SignatureFind& find);

// The per-scan bookkeeping of pending finds (one per scan).
class PendingFinds {
public:
    PendingFinds();
    ~PendingFinds();
    PendingFinds(const PendingFinds&) = delete;
    PendingFinds& operator=(const PendingFinds&) = delete;

    void AllocateWindow();
    void ReleaseWindow();  // also empties the list
    // Keeps a copy of a find with status 3; false (not queued, it stays
    // pending for good) when its needed range is empty or longer than seven
    // blocks, or the list is full.
    bool Queue(const SignatureFind& find);
    // After the last sector of a block: drops finds whose range has passed;
    // true when some pending find wants this block.
    bool Prune(uint64_t blockStartSector);
    // Adds the block to the window and runs the finds the window can serve.
    void Run(const uint8_t* block, uint64_t blockStartSector, FinalisePendingFind finalise,
             void* context);
    size_t Count() const;
    uint64_t WindowStart() const;
    uint32_t WindowBlockCount() const;
    uint64_t WindowLast() const;

private:
    struct Impl;
    Impl* impl_;
};

}  // namespace kestrel
