#pragma once
// Synchronous notifications between the engine and its front ends. They carry
// the same codes and arguments as the desktop's window messages did.
#include <cstdint>

namespace kestrel {

enum MessageCode : uint32_t {
    kMsgPreviewReady = 1124,
    kMsgPostScanBegin = 1126,
    kMsgPostScanEnd = 1127,
    kMsgFirstPartitionNoFound = 1128,
    kMsgDeviceMapClick = 1144,
    kMsgOpenFolder = 1224,
    kMsgCheckStatesChanged = 1225,
    kMsgDeepScanComplete = 1226,
    kMsgViewChanged = 1227,
    kMsgFilterApplied = 1228,
    kMsgPartitionAdded = 1229,
    kMsgNodeRenamed = 1231,
    kMsgRenameCommand = 1232,
    kMsgPictureTileChanged = 1233,
    kMsgRadioUncheck = 1280,
    kMsgButtonHover = 2024,
};

class IObserver {
public:
    virtual ~IObserver() = default;
    virtual void OnMessage(uint32_t code, uint64_t wParam, int64_t lParam) = 0;
};

}  // namespace kestrel
