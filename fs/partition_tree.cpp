#include "fs/partition_tree.h"

#include "fs/exfat_reader.h"
#include "fs/fat_reader.h"
#include "fs/ntfs_reader.h"

namespace kestrel {

bool ReadPartitionTree(PartInfo& part, ScanState& state) {
    switch (part.fsKind) {
        case kFsNtfs:
            return ReadNtfsPartition(part, state);
        case kFsFat16:
        case kFsFat32:
            return ReadFatPartition(part, state);
        case kFsExfat:
            return ReadExfatPartition(part, state);
        default:
            return false;
    }
}

}  // namespace kestrel
