#pragma once
// Collects every report the code under test raises, for the app tests.
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "app/reports.h"

namespace kestrel::test {

class ReportRecorder {
public:
    ReportRecorder() {
        Clear();
        SetReportTap(&ReportRecorder::Tap);
    }
    ~ReportRecorder() { SetReportTap(nullptr); }

    static void Clear() {
        std::lock_guard<std::mutex> lock(Mutex());
        Log().clear();
    }
    static std::vector<std::pair<uint32_t, WString>> Events() {
        std::lock_guard<std::mutex> lock(Mutex());
        return Log();
    }
    static size_t Count(uint32_t event) {
        size_t n = 0;
        for (const auto& e : Events()) n += e.first == event;
        return n;
    }

private:
    static void Tap(uint32_t event, const WString& text) {
        std::lock_guard<std::mutex> lock(Mutex());
        Log().emplace_back(event, text);
    }
    static std::mutex& Mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<std::pair<uint32_t, WString>>& Log() {
        static std::vector<std::pair<uint32_t, WString>> log;
        return log;
    }
};

}  // namespace kestrel::test
