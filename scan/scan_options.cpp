#include "scan/scan_options.h"

#include <cstdio>
#include <string>

namespace kestrel {
namespace {

// Reads the leading decimal digits as "%llu" would; no digits give 0.
uint64_t ParseLeadingDecimal(const WString& text) {
    uint64_t v = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') break;
        uint64_t d = uint64_t(c - u'0');
        if (v > (UINT64_MAX - d) / 10) return UINT64_MAX;
        v = v * 10 + d;
    }
    return v;
}

WString Ascii(const char* s) {
    WString w;
    for (; *s; ++s) w.push_back(char16_t(uint8_t(*s)));
    return w;
}

uint8_t* SwitchAt(ScanOptions& o, int i) {
    uint8_t* sw[11] = {&o.clusterAlign,       &o.showAllFiles,     &o.analyseFat,
                       &o.analyseNtfs,        &o.analyseExfat,     &o.analyseGpt,
                       &o.rereadAfterFailure, &o.preciseOffice,    &o.fixIllegalNames,
                       &o.removeDuplicates,   &o.showWhileScanning};
    return sw[i];
}

}  // namespace

StoredScanOptions& RunScanOptions() {
    static StoredScanOptions stored;
    return stored;
}

void StoreOptions(const ScanOptions& options) {
    StoredScanOptions& s = RunScanOptions();
    s.options = options;
    s.optionsSet = true;
    s.runReread = options.rereadAfterFailure;
}

ScanOptions OptionsForScan(const PartInfo& scanned, int32_t recoverMode, bool showDialog) {
    StoredScanOptions& stored = RunScanOptions();
    const uint64_t start = scanned.startLba;
    const uint64_t size = scanned.sizeSectors;
    ScanOptions o;
    if (!stored.optionsSet) {
        o.scanStart = o.priorityStart = start;
        o.scanSize = size;
        o.showAllFiles = 1;
        o.analyseFat = o.analyseNtfs = o.analyseExfat = o.analyseGpt = 1;
        o.preciseOffice = 1;
        o.showWhileScanning = 1;
        if (recoverMode == 1) {
            o.clusterAlign = 1;
            o.showAllFiles = 2;  // off and locked
        }
        stored.options = o;
        stored.optionsSet = true;
        stored.runReread = 0;
        return o;
    }
    o = stored.options;
    o.scanStart = start;
    o.scanSize = size;
    const bool fits = o.priorityStart >= start && o.prioritySize <= size &&
                      o.priorityStart - start <= size - o.prioritySize;
    if (!fits) {
        o.priorityStart = start;
        o.prioritySize = 0;
    }
    if (!showDialog) StoreOptions(o);
    return o;
}

WString SectorFieldText(uint64_t sectors) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(sectors));
    return Ascii(buf);
}

WString GbLabelFor(const WString& fieldText) {
    if (fieldText.size() <= 3) return u"0(GB)";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u(GB)", unsigned(ParseLeadingDecimal(fieldText) >> 21));
    return Ascii(buf);
}

bool IsValidPriorityText(const WString& text) {
    if (text.size() > 10) return false;
    if (text.size() == 10) {
        if (text[0] > u'4') return false;
        if (text[0] == u'4' && text[1] > u'2') return false;
    }
    return true;
}

WString PriorityStartChangeMessage(const WString& text) {
    return IsValidPriorityText(text) ? WString() : WString(u"优先扫描范围输入不合法!");
}

WString PrioritySizeChangeMessage(const WString& text) {
    return IsValidPriorityText(text) ? WString() : WString(u"优先扫描地址输入不合法!");
}

WString ApplyScanDialog(const ScanOptions& shown, const ScanDialogInput& input,
                        ScanOptions& result) {
    if (!IsValidPriorityText(input.prioritySizeText)) return u"优先扫描地址不合法!";
    if (!IsValidPriorityText(input.priorityStartText)) return u"优先扫描范围不合法!";
    ScanOptions o = shown;
    if (input.prioritySizeText.size() > 3) {
        const uint64_t pStart = ParseLeadingDecimal(input.priorityStartText);
        const uint64_t pSize = ParseLeadingDecimal(input.prioritySizeText);
        // Written as differences: scanStart + scanSize may be near the top of u64.
        if (pStart < o.scanStart || pStart - o.scanStart > o.scanSize)
            return u"输入的优先扫描起始地址不合法！";
        if (pSize > o.scanSize - (pStart - o.scanStart)) return u"输入的优先扫描范围不合法！";
        o.priorityStart = pStart;
        o.prioritySize = pSize;
    }
    for (int i = 0; i < 11; ++i) {
        uint8_t* sw = SwitchAt(o, i);
        if (i < 8 && IsLocked(*sw)) continue;
        *sw = input.checks[i] ? 1 : 0;
    }
    StoreOptions(o);
    result = o;
    return WString();
}

}  // namespace kestrel
