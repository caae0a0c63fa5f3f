#include "scan/scan_timing.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace kestrel {
namespace {

WString Format(const char* fmt, auto... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return Utf16FromUtf8(buf);
}

}  // namespace

uint64_t ScanClockSeconds() {
    using namespace std::chrono;
    return uint64_t(duration_cast<seconds>(steady_clock::now().time_since_epoch()).count());
}

void ScanTiming::Start(uint64_t now) {
    startSeconds = now;
    pausedSeconds = 0;
    pauseBegan = 0;
    paused = false;
}

void ScanTiming::BeginPause(uint64_t now) {
    if (paused.exchange(true)) return;
    pauseBegan = now;
}

void ScanTiming::EndPause(uint64_t now) {
    if (!paused.exchange(false)) return;
    const uint64_t began = pauseBegan.load();
    if (now > began) pausedSeconds += now - began;
}

uint64_t ScanTiming::Elapsed(uint64_t now) const {
    uint64_t off = startSeconds.load() + pausedSeconds.load();
    // A pause in progress does not count either.
    if (paused.load() && now > pauseBegan.load()) off += now - pauseBegan.load();
    return now > off ? now - off : 0;
}

ScanProgressTexts FormatScanProgress(uint64_t elapsed, uint64_t total, uint64_t done, uint64_t base,
                                     uint64_t& prevRemaining) {
    ScanProgressTexts t;
    if (elapsed == 0) return t;
    t.shown = true;
    const unsigned e = unsigned(elapsed);
    if (elapsed > 3600)
        t.elapsed = Format("已用时间: %u:%02u:%02u     ", e / 3600, e / 60 % 60, e % 60);
    else if (elapsed <= 60)
        t.elapsed = Format("已用时间: %02u     ", e);
    else
        t.elapsed = Format("已用时间: %02u:%02u     ", e / 60, e % 60);

    if (elapsed > 60 && done > base) {
        const uint64_t rate = (done - base) / elapsed;
        if (rate != 0) {
            uint64_t remaining = done >= total ? 0 : (total - done) / rate;
            const uint64_t P = prevRemaining;
            if (P < remaining && remaining < P * 110 / 100) remaining = P;
            prevRemaining = remaining;
            const unsigned r = unsigned(remaining);
            if (remaining >= 3600)
                t.remaining = Format("剩余时间: %u:%02u:%02u     ", r / 3600, r / 60 % 60, r % 60);
            else if (remaining >= 60)
                t.remaining = Format("剩余时间: %02u:%02u     ", r / 60, r % 60);
            else
                t.remaining = Format("剩余时间: %02u     ", r);
        }
    }
    const uint64_t speed = done > base ? ((done - base) >> 11) / elapsed : 0;
    t.speed = Format("速度: %u(MB)/秒", unsigned(speed));
    if ((speed * 60 >> 10) > 2) t.speed += Format("  %u(GB)/分钟", unsigned(speed * 60 >> 10));
    return t;
}

bool ReadErrorMessage(uint32_t failed, uint32_t total, bool removable, WString& text) {
    if (failed <= 10 || failed > total) return false;
    const uint64_t mb = uint64_t(failed) * 8;
    if (mb <= 2000)
        text =
            Format("扫描数据时，发生了%u次读磁盘错误，至少%u(MB)数据读失败，可能影响您的恢复效果！",
                   failed, unsigned(mb));
    else
        text = Format(
            "扫描数据时，发生了%u次读磁盘错误，至少%.2f(GB)"
            "数据读失败，可能会严重影响您的恢复效果！",
            failed, double(mb) / 1024.0);
    if (removable)
        text +=
            u"\n可能是电脑、读卡器、USB线、USB口等设备接触不良。建议您更换电脑、读卡器、USB线，并将"
            u"存储设备插在电脑机箱后面的USB口，再重新恢复您的数据！";
    return true;
}

}  // namespace kestrel
