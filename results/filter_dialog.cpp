#include "results/filter_dialog.h"

#include <cstdio>

#include "app/packed_time.h"

namespace kestrel {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

WString ReadableSizeText(uint32_t kb) {
    char buf[48];
    if (kb >= 1048577) {
        std::snprintf(buf, sizeof buf, "%.2f(GB)", double(kb) / 1048576.0);
    } else if (kb < 1025) {
        std::snprintf(buf, sizeof buf, "%u(KB)", kb);
    } else {
        std::snprintf(buf, sizeof buf, "%.2f(MB)", double(kb) / 1024.0);
    }
    return Utf16FromUtf8(buf);
}

bool IsValidSizeInput(WStringView text) {
    if (text.size() > 9) return false;
    for (char16_t c : text)
        if (!IsDigit(c)) return false;
    if (text.size() == 9) {
        if (text[0] != u'0' && text[0] != u'1') return false;
        if (text[0] == u'1' && text[1] > u'3') return false;
    }
    return true;
}

WString InvalidSizeMessage() { return u"输入的文件大小不合法!"; }

uint32_t ParseSizeInput(WStringView text) {
    uint32_t v = 0;
    // Nine digits at most: 999,999,999 still fits in 32 bits.
    for (size_t i = 0; i < text.size() && i < 9 && IsDigit(text[i]); ++i) {
        v = v * 10 + uint32_t(text[i] - u'0');
    }
    return v;
}

WString ValidateFilterSettings(const FileFilter& f) {
    if (!f.text.empty()) {
        WString message = ValidateFilterText(f.text);
        if (!message.empty()) return message;
    }
    if (f.sizeMaxKb < f.sizeMinKb) return u"文件起始大小大于最大大小，设置不合法！";
    if (f.createdFrom > f.createdTo) return u"文件创建起始时间大于结束时间，设置不合法！";
    if (f.modifiedFrom > f.modifiedTo) return u"文件修改起始时间大于结束时间，设置不合法！";
    if (f.accessedFrom > f.accessedTo) return u"文件访问起始时间大于结束时间，设置不合法！";
    return WString();
}

uint32_t FilterDateBound(int year, int month, int day, bool upper) {
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        month = 1;
        day = 1;
    }
    CalendarTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    if (upper) {
        t.hour = 23;
        t.minute = 59;
        t.second = 59;
    }
    return PackTime(t);
}

}  // namespace kestrel
