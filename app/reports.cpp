#include "app/reports.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "app/guarded_memory.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "platform/bytes.h"
#include "platform/codepage.h"
#include "platform/tcp_client.h"

namespace kestrel {
namespace {

constexpr size_t kIdField = 65;
constexpr size_t kTextField = 1025;
constexpr size_t kNameField = 64;
constexpr uint64_t kMaxDumpUpload = 0x40000;  // 256 KiB

struct QueueEntry {
    void* block;
    size_t len;
};

// Lives for the whole process and is never destroyed: the worker may still be
// waiting on it while static destructors run at exit.
struct ReportQueue {
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<QueueEntry> entries;
    size_t inFlight = 0;
    bool workerStarted = false;
};

ReportQueue& Queue() {
    static ReportQueue* q = new ReportQueue;
    return *q;
}

std::mutex gServerLock;
std::string* gServer = new std::string;
std::atomic<uint16_t> gPort{kReportPort};
std::atomic<ReportTap> gTap{nullptr};

// Length of the longest GBK prefix of at most max bytes that does not split a
// double-byte character.
size_t AnsiCut(const std::string& s, size_t max) {
    if (s.size() <= max) return s.size();
    size_t i = 0;
    while (i < max) {
        const size_t step = uint8_t(s[i]) >= 0x81 ? 2 : 1;
        if (i + step > max) break;
        i += step;
    }
    return i;
}

void ReportQueueWorker() {
    ReportQueue& q = Queue();
    for (;;) {
        QueueEntry e;
        {
            std::unique_lock<std::mutex> lock(q.lock);
            q.wake.wait(lock, [&] { return !q.entries.empty(); });
            e = q.entries.front();
            q.entries.pop_front();
            ++q.inFlight;
        }
        if (e.len > 0)
            SendPacket(static_cast<const uint8_t*>(e.block), nullptr, e.len, nullptr, gPort.load());
        GuardedFree(e.block);
        {
            std::lock_guard<std::mutex> lock(q.lock);
            --q.inFlight;
            if (q.entries.empty() && q.inFlight == 0) q.idle.notify_all();
        }
    }
}

bool EndsWithDmp(const char* name) {
    const size_t n = std::strlen(name);
    if (n < 4) return false;
    const char* ext = name + n - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'd' && (ext[2] | 0x20) == 'm' &&
           (ext[3] | 0x20) == 'p';
}

}  // namespace

void SetReportTap(ReportTap tap) { gTap.store(tap); }

void SetReportServer(const std::string& ipv4Text) {
    std::lock_guard<std::mutex> lock(gServerLock);
    *gServer = ipv4Text;
}

std::string ReportServer() {
    std::lock_guard<std::mutex> lock(gServerLock);
    return *gServer;
}

void SetReportPort(uint16_t port) { gPort.store(port); }

std::vector<uint8_t> BuildReportPacket(uint32_t event, const WString& installId,
                                       const WString& text) {
    std::vector<uint8_t> p(kReportPacketSize, 0);
    std::memcpy(p.data(), "VRX ", 4);
    StoreU32(p.data() + 4, kReportPacketSize);
    p[8] = 1;
    p[9] = 1;
    StoreU32(p.data() + 10, event);
    const std::string id = AnsiFromWide(installId);
    std::memcpy(p.data() + 14, id.data(), AnsiCut(id, kIdField - 1));
    const std::string t = AnsiFromWide(text);
    std::memcpy(p.data() + 79, t.data(), AnsiCut(t, kTextField - 1));
    return p;
}

std::string DumpUploadName(const std::string& dumpFileName, const WString& installId) {
    std::string stem = dumpFileName.substr(0, dumpFileName.find('.'));
    if (!installId.empty()) {
        stem += '_';
        stem += AnsiFromWide(installId);
    }
    // The field holds 63 bytes and a NUL; the ".dmp" ending must survive a cut.
    stem.resize(AnsiCut(stem, kNameField - 1 - 4));
    return stem + ".dmp";
}

std::vector<uint8_t> BuildDumpPacket(const std::string& dumpFileName, const WString& installId,
                                     const uint8_t* dump, size_t dumpSize) {
    std::vector<uint8_t> p(kDumpPacketHeader + dumpSize, 0);
    std::memcpy(p.data(), "VRX ", 4);
    StoreU32(p.data() + 4, uint32_t(p.size()));
    p[8] = 2;
    p[9] = 1;
    const std::string name = DumpUploadName(dumpFileName, installId);
    std::memcpy(p.data() + 10, name.data(), name.size());
    if (dumpSize) std::memcpy(p.data() + kDumpPacketHeader, dump, dumpSize);
    return p;
}

bool PassesConsentFilter(const uint8_t* bytes, size_t len, bool consent) {
    if (!bytes || len <= 3) return false;
    if (consent) return true;
    const ByteView v(bytes, len);
    if (!v.Has(8, 1)) return false;
    switch (v.U8(8)) {
        case 0:
        case 2:
            return true;
        case 1: {
            if (!v.Has(10, 4)) return false;
            switch (v.U32(10)) {
                case 0:
                case 1:
                case 3:
                case 18:
                case 19:
                case 20:
                case 25:
                    return true;
                default:
                    return false;
            }
        }
        default:
            return false;
    }
}

bool SendPacket(const uint8_t* bytes, uint8_t* reply, size_t len, size_t* replyLen, uint16_t port) {
    if (replyLen) *replyLen = 0;
    if (!PassesConsentFilter(bytes, len, Run().ImproveConsent.load() != 0)) return false;
    const std::string server = ReportServer();
    // An unconfigured build sends nothing and says nothing.
    if (server.empty()) return false;
    uint32_t addr;
    if (!ParseIpv4(server, addr)) {
        UserInteraction().ShowMessage(u"服务器IP地址不正确！");
        return false;
    }
    TcpRequest req;
    req.address = server;
    req.port = port;
    req.data = bytes;
    req.size = len;
    req.reply = reply;
    req.replyCap = reply ? 100 : 0;
    return TcpSend(req, replyLen);
}

void QueuePacket(size_t len, const uint8_t* bytes) {
    if (!bytes || len == 0 || len > UINT32_MAX - 16) return;
    void* block = GuardedAlloc(uint32_t(len), __LINE__);
    std::memcpy(block, bytes, len);
    ReportQueue& q = Queue();
    {
        std::lock_guard<std::mutex> lock(q.lock);
        q.entries.push_back({block, len});
    }
    q.wake.notify_one();
}

void SendReport(uint32_t event, const WString& text, bool queued) {
    if (ReportTap tap = gTap.load()) tap(event, text);
    const WString id = Run().InstallId;
    if (id.empty()) return;
    const std::vector<uint8_t> p = BuildReportPacket(event, id, text);
    if (queued)
        QueuePacket(p.size(), p.data());
    else
        SendPacket(p.data(), nullptr, p.size(), nullptr, gPort.load());
}

void SendReport(uint32_t event, const std::string& utf8Text, bool queued) {
    SendReport(event, Utf16FromUtf8(utf8Text), queued);
}

void SendReport(uint32_t event, const char* utf8Text, bool queued) {
    SendReport(event, Utf16FromUtf8(utf8Text ? utf8Text : ""), queued);
}

void StartReportQueueWorker() {
    ReportQueue& q = Queue();
    {
        std::lock_guard<std::mutex> lock(q.lock);
        if (q.workerStarted) return;
        q.workerStarted = true;
    }
    std::thread(ReportQueueWorker).detach();
}

bool WaitReportQueueIdle(int timeoutMs) {
    ReportQueue& q = Queue();
    std::unique_lock<std::mutex> lock(q.lock);
    if (!q.workerStarted) return q.entries.empty();
    return q.idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return q.entries.empty() && q.inFlight == 0; });
}

uint32_t UploadOldDumps(const std::string& folder) {
    std::string dir = folder.empty() ? std::string("./") : folder;
    if (dir.back() != '/') dir += '/';
    DIR* d = ::opendir(dir.c_str());
    if (!d) return 0;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d))
        if (EndsWithDmp(e->d_name)) names.emplace_back(e->d_name);
    ::closedir(d);

    const WString id = Run().InstallId;
    uint32_t queued = 0;
    for (const std::string& name : names) {
        const std::string path = dir + name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        if (st.st_size > 0 && uint64_t(st.st_size) < kMaxDumpUpload) {
            std::vector<uint8_t> dump(size_t(st.st_size));
            size_t got = 0;
            while (got < dump.size()) {
                const ssize_t n = ::read(fd, dump.data() + got, dump.size() - got);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                got += size_t(n);
            }
            if (got > 0) {
                const std::vector<uint8_t> p = BuildDumpPacket(name, id, dump.data(), got);
                QueuePacket(p.size(), p.data());
                ++queued;
            }
        }
        ::close(fd);
        ::unlink(path.c_str());
    }
    return queued;
}

}  // namespace kestrel
