#pragma once
// The scan-state file "DiskScanData.dat": which blocks a scan has processed
// and everything found in them, so that a later scan of the same device goes
// on where this one stopped.
#include <string>

#include "app/scan_state.h"
#include "platform/wide_text.h"
#include "scan/scan_session.h"

namespace kestrel {

// "DiskScanData.dat" in the executable's folder.
std::string DefaultScanStateFilePath();

// True when the file at path is a scan-state file written for a device of
// this identity (its disk name).
bool HasSavedScanData(const std::string& path, const WString& identity);
// Installs the saved block map, range and catalogue into s (the catalogue is
// reset to the map's block count). False, and nothing installed, on any short
// read, a foreign file, a map whose size is not the scanned device's, a
// series entry of more than 0x100000 values, or a stop request. Only blocks
// stored as processed keep their mark; every other block is read again.
bool LoadScanData(const std::string& path, ScanSession& s, ScanState& state);
// Writes the block map, range and catalogue of s. True without writing when
// there is no block map. Blocks claimed but not processed are written as not
// read, so a resumed scan reads them. A failure after the file was opened
// leaves it empty; an identity above 510 bytes is refused before opening.
bool SaveScanData(const std::string& path, ScanSession& s);

// Sets hasSavedData, loadSavedData and saveScanData of s.hooks to use the
// file at path (empty: the default path). There is one scan-state file per
// process: the path is process-wide, the last installation wins.
void InstallScanStateFileHooks(ScanSession& s, const std::string& path = {});
// The path the hooks use: the one last installed, else the default.
std::string InstalledScanStateFilePath();

// "保存进度" while a scan is paused: the save runs on SaveDiskScanDataThread
// while the UI shows its progress dialog and polls status (kJobDone on
// success, kJobCancelled on failure).
struct SaveScanDataJob {
    ScanSession* session = nullptr;
    std::string path;  // empty: the installed path
    JobStatus status{kJobRunning};
};
void SaveDiskScanDataThread(void* job);

}  // namespace kestrel
