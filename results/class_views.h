#pragma once
// The three views across all partitions of a run (by file type, by creation
// date, by modification date): their folder skeletons in slots 0..2, the
// NodeRef trees that point at the listed files, and the empty found-files
// partition of slot 3.
#include <cstdint>

#include "app/scan_state.h"
#include "fs/result_set.h"

namespace kestrel {

// Folder ids of the date skeletons: years 1980..2019 are their own ids,
// months follow from 2020, days (31 for every month) from 2500.
constexpr uint32_t kFirstViewYear = 1980;
constexpr uint32_t kLastViewYear = 2019;
constexpr uint32_t kFirstMonthFolder = 2020;
constexpr uint32_t kFirstDayFolder = 2500;
constexpr uint32_t kLastDayFolder = 17379;

uint32_t MonthFolderId(uint32_t year, uint32_t month);
uint32_t DayFolderId(uint32_t year, uint32_t month, uint32_t day);
// The folder of a date view a file with this PackedTime belongs in: its day
// folder, or the lost-files folder (4) for an unknown time (0), for fields
// that name no day, and for dates after 2019.
uint32_t DateViewParent(uint32_t packed);

void BuildViewSkeletons(ResultSet& rs, const ScanState* stop);
void BuildFoundFilesPartition(ResultSet& rs, bool notify);
void ClassifyPartition(ResultSet& rs, uint32_t slot, const ScanState* stop);

// Recounts a classification tree from its root: writes each skeleton
// folder's listedCount (and Listed once it holds a listed file) and returns
// the number of listed files the tree shows.
uint32_t CountClassTree(ResultSet& rs, PartInfo& tree);
// The file node an entry points at, null when absent.
FileNode* TreeRowNodeOfRef(ResultSet& rs, const NodeRef* ref);

// Registers the three functions above as the result set's classification
// hook. Front ends call it once at start-up.
void InstallClassificationViews();

}  // namespace kestrel
