#include "results/export_command.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdarg>
#include <cstdio>

#include "app/reports.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "results/check_states.h"

namespace kestrel {
namespace {

WString Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
WString Printf(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return Utf16FromUtf8(buf);
}

bool IsFolder(const WString& path) {
    struct stat st;
    return ::stat(Utf8FromWide(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The Linux form of "the target lies on the partition being recovered": the
// folder's file system lives on the block device the partition was opened
// through (its own volume, or the device itself when it holds the volume).
bool OnRecoveredDevice(const WString& path, const PartInfo& recovered) {
    struct stat target;
    if (::stat(Utf8FromWide(path).c_str(), &target) != 0) return false;
    for (const WString* dev : {&recovered.volumePath, &recovered.devicePath}) {
        if (dev->empty()) continue;
        struct stat st;
        if (::stat(Utf8FromWide(*dev).c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
            st.st_rdev == target.st_dev)
            return true;
    }
    return false;
}

}  // namespace

WString ExportCommandCheck(ResultSet& rs, const ScanState* scan) {
    const int32_t state = scan ? scan->load() : int32_t(kScanFinished);
    const bool active = state == kScanRunning || state == kScanPaused;
    if (Run().RecoverMode == kModeDeletedFiles && Run().CurPartInfo.fsKind == kFsFat32 && active)
        return u"FAT32分区删除的文件，扫描完后才能恢复，请耐心等待!";
    if (state == kScanRunning) return u"请先点上面的\"暂停\"按钮，暂停扫描进度，再导出找到的文件！";
    RecomputeCheckStates(rs);
    if (CheckedPartitionRows(rs).empty()) return u"请至少选择一个需要恢复的文件或目录!";
    return {};
}

uint64_t FreeSpaceMiB(const WString& path) {
    struct statvfs vfs;
    if (::statvfs(Utf8FromWide(path).c_str(), &vfs) != 0) return 0;
    return (uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize)) >> 20;
}

WString ValidateSaveParams(const WString& path, const PartInfo& recovered, uint64_t checkedMiB) {
    if (path.empty()) return u"请选择恢复目录！";
    if (!IsFolder(path)) return u"选择的目录不合法，恢复失败！";
    if (OnRecoveredDevice(path, recovered))
        return u"您选择的文件导出目录在您需要恢复数据的分区里，请选择其他分区里的目录!";
    const uint64_t freeMiB = FreeSpaceMiB(path);
    if (freeMiB != 0 && double(freeMiB) < double(checkedMiB) / 100.0 * 103.0)
        return u"您选择的文件导出目录所在磁盘的空间不足!";
    Run().ExportTargetDir = path;
    return {};
}

WString ExportSummaryText(uint32_t files, uint64_t kib) {
    if (kib >= 2097153)
        return Printf("导出结束！本次恢复%u个文件，共计%.2f(GB)数据！", files,
                      double(kib / 1024) / 1024.0);
    if (kib < 2049)
        return Printf("导出结束！本次恢复%u个文件，共计%u(KB)数据！", files, uint32_t(kib));
    return Printf("导出结束！本次恢复%u个文件，共计%.2f(MB)数据！", files, double(kib) / 1024.0);
}

WString ReadErrorSummaryText(uint32_t failed, bool usb) {
    WString text = Printf("导出文件时，发生了%u次读磁盘错误，导致部分文件导出失败！", failed);
    if (usb)
        text +=
            u"\n可能是电脑、读卡器、USB线、USB口等设备接触不良。建议您更换电脑、读卡器、USB线，"
            u"并将存储设备插在电脑机箱后面的USB口，再重新恢复您的数据！";
    return text;
}

bool ReportExportReadErrors(bool usb) {
    const uint32_t failed = Run().ReadFailCount;
    if (failed == 0) return false;
    UserInteraction().ShowMessage(ReadErrorSummaryText(failed, usb));
    char text[64];
    std::snprintf(text, sizeof text, "Disk scan error: %u / %u", failed,
                  uint32_t(Run().ReadCallCount));
    SendReport(kEvExportReadErrors, text);
    return true;
}

}  // namespace kestrel
