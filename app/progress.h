#pragma once
// The progress mailbox: one process-wide snapshot slot. Workers drop a
// snapshot in when the slot is empty and never wait; the progress windows
// take it out on their timers.
#include <cstdint>

namespace kestrel {

enum ProgressPhase : uint32_t {
    kPhaseNone = 0,
    kPhaseFsRead = 1,
    kPhaseDeepScan = 2,
    kPhaseExport = 3,
    kPhasePrepare = 4,
    kPhaseEnumerate = 5,
    kPhaseReadError = 6,
    kPhaseLoadScanData = 7,
    kPhaseSaveScanData = 8,
    kPhaseSectorInfo = 9,
    kPhaseClassify = 10,
    kPhaseText = 11,
};

struct FsReadProgress {  // phase 1
    uint32_t liveFiles, liveDirs, deletedFiles, deletedDirs;
};
struct DeepScanProgress {  // phase 2
    uint64_t totalSectors, doneSectors;
    uint32_t signatureFiles;
    // partition tables other than the MBR, NTFS boot records, FAT boot records,
    // exFAT boot records, NTFS file records, FAT directory sectors, NTFS index
    // blocks, exFAT directory sectors
    uint32_t structures[8];
};
struct ExportProgress {  // phase 3
    uint32_t totalFiles, doneFiles;
    uint64_t totalBytes, doneBytes, fileSize, fileDone;
    char16_t fileName[260];
};
struct EnumerateProgress {  // phase 5
    uint32_t volumesFound;
    uint16_t driveLetter;
    char16_t fsName[64];
    char16_t label[64];
};
struct ItemsProgress {  // phases 7 and 8
    uint32_t done, total;
};
struct ClassifyProgress {  // phase 10
    uint32_t nodeIndex, nodeCount;
};
struct TextProgress {  // phase 11
    char16_t title[40];
    char16_t text[110];
};

struct ProgressSnapshot {
    uint32_t phase = 0;
    union {
        FsReadProgress fs;
        DeepScanProgress scan;
        ExportProgress exp;
        EnumerateProgress enumerate;
        ItemsProgress items;
        ClassifyProgress classify;
        TextProgress text;
    };
    ProgressSnapshot();
};

// Drops the snapshot when the slot is still full.
void PostProgress(const ProgressSnapshot& snapshot);
// Posts a phase-11 snapshot; texts longer than the fields are cut.
void PostProgressText(const char16_t* title, const char16_t* text);
// Increments the phase-1 counter of a node kind (0 deleted file, 1 live file,
// 2 deleted directory, 3 live directory), then posts. The node-level form,
// CountNodeProgress, lives with the node table.
void CountKindProgress(uint32_t kind, ProgressSnapshot& phase1);
// Takes the waiting snapshot, if any, and empties the slot.
bool TakeProgress(ProgressSnapshot& out);
// Empties the slot completely: a new modal job must not show an old snapshot.
void ClearProgress();

}  // namespace kestrel
