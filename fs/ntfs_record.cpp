#include "fs/ntfs_record.h"

#include <cstring>
#include <string>

#include "app/guarded_memory.h"
#include "app/packed_time.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_known_extents.h"
#include "fs/ntfs_runs.h"

namespace kestrel {
namespace {

constexpr uint32_t kFileAttrSystem = 0x04;
constexpr uint32_t kMaxResidentSize = 768;

bool IsRecycleBinName(const std::u16string& name) {
    static const char kName[] = "$RECYCLE.BIN";
    if (name.size() != sizeof(kName) - 1) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
        if (c != char16_t(kName[i])) return false;
    }
    return true;
}

}  // namespace

void ReleaseParsedNode(FileNode& node) {
    if (node.name) GuardedFree(node.name);
    if (node.runList) GuardedFree(node.runList);
    node.name = nullptr;
    node.runList = nullptr;
    node.firstCluster = 0;
}

bool ParseFileRecord(const uint8_t* record, PartInfo& part, FileNode& node, bool keepSystemFiles) {
    const ByteView rec(record, kNtfsRecordBytes);
    node = MakeNode();
    if (!record || !HasFileSignature(rec) || RecordNumber(rec) > kNtfsMaxRecordNumber) return false;
    node.id = RecordNumber(rec);
    node.flags = uint16_t((RecordFlags(rec) & 3) << 3);

    bool system = false;
    bool rejected = false;
    bool haveName = false;
    bool sawData = false;
    std::u16string name;
    ByteView pairs;

    ForEachAttribute(rec, [&](const NtfsAttribute& a) {
        switch (a.type) {
            case kAttrStandardInformation: {
                const ByteView v = a.bytes.From(a.bytes.U16(0x14));
                node.created = PackedTimeFromFileTime(v.U64(0x00));
                node.modified = PackedTimeFromFileTime(v.U64(0x08));
                system = (v.U32(0x20) & kFileAttrSystem) != 0;
                return true;
            }
            case kAttrFileName: {
                const NtfsFileName fn = ReadFileNameAttribute(a);
                if (!fn.valid) return false;  // value or name outside the attribute
                const bool take = (fn.nameSpace == kNamePosix && !haveName) ||
                                  fn.nameSpace == kNameWin32 || fn.nameSpace == kNameWin32AndDos;
                if (!take || fn.length == 0) return true;
                haveName = true;
                node.parentId = fn.parentRecord;
                name.resize(fn.length);
                for (size_t i = 0; i < fn.length; ++i) name[i] = char16_t(fn.chars.U16(2 * i));
                if (system && name[0] == u'$') {
                    if (IsRecycleBinName(name)) {
                        name = u"回收站";
                    } else if (!keepSystemFiles) {
                        rejected = true;
                        return false;
                    }
                }
                return true;
            }
            case kAttrData: {
                if (sawData) return true;
                sawData = true;
                if (!haveName) {
                    rejected = true;
                    return false;
                }
                if (a.NonResident()) {
                    if (a.bytes.U64(0x10) != 0) return true;  // a later extent of the data
                    node.size = a.bytes.U64(0x30);
                    pairs = a.MappingPairs();
                } else {
                    node.flags |= kFlagResidentData;
                    const uint32_t len = a.bytes.U32(0x10);
                    const uint32_t off = a.bytes.U16(0x14);
                    node.size = (len > kMaxResidentSize || off > kNtfsRecordBytes) ? 0 : len;
                }
                return true;
            }
            case kAttrIndexAllocation: {
                if (!a.NonResident()) return true;
                const ByteView p = a.MappingPairs();
                RunList runs = DecodeRunList(p.data(), uint32_t(p.size()));
                if (ResolveRuns(part, runs)) RegisterIndexExtents(runs);
                return true;
            }
            default:
                return true;
        }
    });

    if (rejected || !haveName) {
        node = MakeNode();
        return false;
    }
    node.name = CopyNodeName(name);
    if (!pairs.empty() && pairs.size() < kNtfsRecordBytes) {
        node.runList = static_cast<uint8_t*>(GuardedAlloc(uint32_t(pairs.size()), __LINE__));
        std::memcpy(node.runList, pairs.data(), pairs.size());
        node.firstCluster = uint32_t(pairs.size());
    }
    return true;
}

}  // namespace kestrel
