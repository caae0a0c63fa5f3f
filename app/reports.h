#pragma once
// Diagnostic report packets to the maker's report server. There is no log
// file: events travel as fixed 1104-byte packets ("VRX ", kind 1), crash
// dumps as variable packets (kind 2). Any thread may report; queued packets
// are sent by one worker thread in order, one TCP connection each.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wide_text.h"

namespace kestrel {

constexpr uint32_t kReportPacketSize = 1104;
constexpr uint32_t kDumpPacketHeader = 74;
constexpr uint16_t kReportPort = 7000;
constexpr uint32_t kBuildNumber = 3349;
constexpr const char* kProductAbbrev = "Vexor";
constexpr const char* kProductVersion = "5.3.6";

enum ReportEvent : uint32_t {
    kEvStartup = 0,
    kEvExit = 1,
    kEvExportConfirmed = 2,
    kEvExportFinished = 3,
    kEvSupportButton = 10,
    kEvDeviceChosen = 12,
    kEvMemBegin = 16,
    kEvMemEnd = 17,
    kEvMemOper = 18,
    kEvMemFailure = 19,
    kEvMemBig = 20,
    kEvScanMinutes = 22,
    kEvScanReadErrors = 23,
    kEvExportReadErrors = 24,
};

// Queues (queued) or sends at once a report; does nothing while InstallId is
// empty. Texts are converted to the ANSI code page (GBK) and cut at 1024 bytes.
void SendReport(uint32_t event, const WString& text, bool queued = true);
void SendReport(uint32_t event, const std::string& utf8Text, bool queued = true);
void SendReport(uint32_t event, const char* utf8Text, bool queued = true);

// The 1104-byte packet of one report.
std::vector<uint8_t> BuildReportPacket(uint32_t event, const WString& installId,
                                       const WString& text);
// The crash-dump packet: 74-byte header with the upload name, then the dump.
std::vector<uint8_t> BuildDumpPacket(const std::string& dumpFileName, const WString& installId,
                                     const uint8_t* dump, size_t dumpSize);
// The name a dump is uploaded under: file name up to its first '.', "_" and
// InstallId when that is not empty, ".dmp"; cut to fit 63 bytes plus NUL.
std::string DumpUploadName(const std::string& dumpFileName, const WString& installId);

// Whether a packet passes the consent filter.
bool PassesConsentFilter(const uint8_t* bytes, size_t len, bool consent);

// Copies the packet into a guarded block and hands it to the queue worker.
void QueuePacket(size_t len, const uint8_t* bytes);
// Sends one packet now (consent filter applied). reply may be null; at most
// 100 bytes are received into it. Returns true when the packet was sent.
bool SendPacket(const uint8_t* bytes, uint8_t* reply, size_t len, size_t* replyLen, uint16_t port);

// The server address is a deployment value ("ReportServer" in the registry
// store). Empty: nothing is sent and nothing shown. Tests set it directly.
void SetReportServer(const std::string& ipv4Text);
std::string ReportServer();
// The port queued packets go to (7000; tests use an ephemeral listener).
void SetReportPort(uint16_t port);

// Starts the queue worker once; later calls do nothing.
void StartReportQueueWorker();
// Waits until the queue is empty and the worker idle, at most timeoutMs;
// without a worker it only tells whether the queue is empty.
bool WaitReportQueueIdle(int timeoutMs);

// Uploads every "*.dmp" file of folder (trailing '/' optional) smaller than
// 256 KiB through the queue and deletes every one. Returns the number queued.
uint32_t UploadOldDumps(const std::string& folder);

// Observes every SendReport call (before the InstallId test); for tests.
using ReportTap = void (*)(uint32_t event, const WString& text);
void SetReportTap(ReportTap tap);

}  // namespace kestrel
