#pragma once
// The recovered-file tree: one table of nodes per partition, stored by value
// in one growable guarded array and addressed by a 32-bit id that is also the
// array index. Parent and child relations are ids, never pointers.
#include <cstdint>

#include "app/progress.h"
#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

// Bits of FileNode::flags.
enum NodeFlag : uint16_t {
    kFlagResidentData = 1 << 0,
    kFlagCheckMask = 3 << 1,  // CheckState: 0 unchecked, 1 checked, 2 partly checked
    kFlagInUse = 1 << 3,
    kFlagDirectory = 1 << 4,
    kFlagKindMask = 3 << 3,
    kFlagListed = 1 << 5,
    kFlagFilterMatch = 1 << 6,
    kFlagThumbMask = 3 << 8,
};

enum NodeKindValue : uint32_t {
    kDeletedFile = 0,
    kLiveFile = 1,
    kDeletedDir = 2,
    kLiveDir = 3,
};

constexpr uint32_t kRootNodeId = 5;
constexpr uint32_t kLostFilesNodeId = 4;
constexpr uint32_t kFileNodeLimit = 2000000;
constexpr uint32_t kNodeRefLimit = 4000000;

struct FileNode {
    uint32_t id;
    uint32_t parentId;
    uint32_t childCapacity;
    uint32_t childCount;
    uint32_t* childIds;
    uint32_t listedCount;
    uint32_t firstCluster;  // FAT/exFAT first cluster; NTFS byte length of runList
    uint64_t locationLba;
    uint64_t size;
    uint32_t created;   // PackedTime, 0 = unknown
    uint32_t modified;  // PackedTime, 0 = unknown
    char16_t* name;     // guarded, NUL-terminated; never null for a valid node
    uint8_t* runList;   // NTFS raw mapping pairs of the first $DATA extent
    uint32_t thumbData;
    uint32_t thumbSize;
    uint8_t typeId;
    uint16_t flags;
};

// Entry of a classification tree: the first six fields are FileNode's.
struct NodeRef {
    uint32_t id;
    uint32_t parentId;
    uint32_t childCapacity;
    uint32_t childCount;
    uint32_t* childIds;
    uint32_t listedCount;
    uint32_t partitionIndex;
    uint32_t nodeId;
};

enum class RecordKind { FileNode, NodeRef };

inline uint32_t NodeKind(const FileNode& n) { return (n.flags & kFlagKindMask) >> 3; }
inline bool IsDirectory(const FileNode& n) { return (n.flags & kFlagDirectory) != 0; }
inline void SetNodeKind(FileNode& n, uint32_t kind) {
    n.flags = uint16_t((n.flags & ~kFlagKindMask) | ((kind & 3) << 3));
}
inline uint32_t CheckState(const FileNode& n) { return (n.flags & kFlagCheckMask) >> 1; }
inline void SetCheckState(FileNode& n, uint32_t s) {
    n.flags = uint16_t((n.flags & ~kFlagCheckMask) | ((s & 3) << 1));
}

// A zeroed node record (for builders to fill).
FileNode MakeNode();

// Table operations. A slot is valid when its id equals its index and, for
// FileNode tables, its name is not null.
//
// AddNode stores the record in slot node.id (the next free id when 0) and
// returns that id, 0 when the id is at the kind's limit or the table cannot
// grow. The table takes over name, childIds and runList in every case: when
// the node is refused they are released and set to null in node. Outside the
// found-files kind a file's typeId is derived from its name. With linkNow the
// node is appended to its parent's children and, when Listed, counted in its
// ancestors and in listedTotal.
uint32_t AddNode(PartInfo& part, FileNode& node, bool linkNow,
                 RecordKind kind = RecordKind::FileNode);
uint32_t AddNodeRef(PartInfo& part, NodeRef& ref, bool linkNow);
FileNode* GetNode(PartInfo& part, uint32_t id);
const FileNode* GetNode(const PartInfo& part, uint32_t id);
NodeRef* GetNodeRef(PartInfo& part, uint32_t id);
bool ReserveNodes(PartInfo& part, uint32_t wantedSlots, RecordKind kind = RecordKind::FileNode);
void AddRootAndLostNodes(PartInfo& part);
void LinkChildren(PartInfo& part);
void CompactTable(PartInfo& part);
void FreeTable(PartInfo& part, RecordKind kind = RecordKind::FileNode);
void SplitLostFiles(PartInfo& part);
// Appends childId to the node's child array (grows by half when full).
bool AppendChild(PartInfo& part, uint32_t parentId, uint32_t childId,
                 RecordKind kind = RecordKind::FileNode);
// Copies a text into a new guarded NUL-terminated name.
char16_t* CopyNodeName(WStringView name);
void SetNodeName(FileNode& node, WStringView name);

// Listing passes. MarkListedByMode lists deleted files (RecoverMode 1) or all
// files. The counting passes walk down from id, store each directory's count
// and mark non-empty directories Listed; CountDeletedView also lists every
// file inside a deleted directory. A node met twice in one walk (damaged child
// lists) is counted once, so every walk ends.
void MarkListedByMode(PartInfo& part);
uint32_t CountListed(PartInfo& part, uint32_t id);
uint32_t CountDeletedView(PartInfo& part, uint32_t id, bool insideDeletedDir);

// Counts the node in a phase-1 snapshot and posts it.
void CountNodeProgress(const FileNode& node, ProgressSnapshot& phase1);

}  // namespace kestrel
