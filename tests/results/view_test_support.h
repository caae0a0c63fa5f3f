#pragma once
// Small result sets for the view, query and filter tests: a reset set with
// the classification views installed and partitions built node by node.
#include <cstdint>
#include <string>
#include <vector>

#include "app/packed_time.h"
#include "app/run_state.h"
#include "fs/file_node.h"
#include "fs/result_set.h"
#include "results/class_views.h"

namespace kestrel::test {

struct ObserverLog : IObserver {
    struct Message {
        uint32_t code;
        uint64_t wParam;
        int64_t lParam;
    };
    std::vector<Message> messages;
    void OnMessage(uint32_t code, uint64_t w, int64_t l) override {
        messages.push_back({code, w, l});
    }
};

inline uint32_t Date(int year, int month, int day, int hour = 12) {
    CalendarTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    return PackTime(t);
}

// All files listed (a partition-recovery run), views installed, slots 0..3 built.
struct ViewScope {
    int32_t savedMode;
    ResultSet rs;
    ViewScope() {
        savedMode = Run().RecoverMode;
        Run().RecoverMode = kModePartitionFiles;
        InstallClassificationViews();
        ResetResultSet(rs);
    }
    ~ViewScope() {
        ClearResultSet(rs);
        SetClassificationHook(ClassificationHook{});
        Run().RecoverMode = savedMode;
    }
    ViewScope(const ViewScope&) = delete;
    ViewScope& operator=(const ViewScope&) = delete;
};

// A partition under construction: nodes are added unlinked, Finish links it.
struct PartBuilder {
    PartInfo part;
    explicit PartBuilder(uint32_t kind = kFsFat32, const char16_t* label = u"") {
        part.fsKind = kind;
        part.label = label;
        AddRootAndLostNodes(part);
    }
    uint32_t Dir(const std::u16string& name, uint32_t parent = kRootNodeId, bool live = true) {
        FileNode n = MakeNode();
        n.parentId = parent;
        SetNodeKind(n, live ? kLiveDir : kDeletedDir);
        n.name = CopyNodeName(name);
        return AddNode(part, n, false);
    }
    uint32_t File(const std::u16string& name, uint32_t parent, uint64_t size, uint32_t created,
                  uint32_t modified, bool live = true) {
        FileNode n = MakeNode();
        n.parentId = parent;
        SetNodeKind(n, live ? kLiveFile : kDeletedFile);
        n.name = CopyNodeName(name);
        n.size = size;
        n.created = created;
        n.modified = modified;
        return AddNode(part, n, false);
    }
    // Links the table and appends it to the set; returns the slot.
    uint32_t AddTo(ResultSet& rs) {
        LinkChildren(part);
        uint32_t slot = rs.partitionCount;
        AddPartition(rs, part, nullptr, false);
        return slot;
    }
};

}  // namespace kestrel::test
