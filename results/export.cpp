#include "results/export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/reports.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "fs/export_dispatch.h"
#include "fs/export_times.h"
#include "platform/output_file.h"
#include "results/browse_queries.h"
#include "results/carved_export.h"
#include "results/check_states.h"
#include "results/export_names.h"

namespace kestrel {
namespace {

constexpr char16_t kExistsQuestion[] = u"，已经存在，是否覆盖？";

bool StopRequested(const ExportJob& job) { return job.status.load() == kJobCancelled; }

// Visible children of a node whose check state is 1 or 2.
std::vector<uint32_t> CheckedVisibleChildren(ResultSet& rs, TreeRow row, uint32_t id) {
    std::vector<uint32_t> out;
    for (uint32_t c : VisibleChildren(rs, row, id)) {
        const FileNode* n = TreeRowNode(rs, row, c);
        if (n && CheckState(*n) != 0) out.push_back(c);
    }
    return out;
}

void SetCurrentFile(ProgressSnapshot& progress, const WString& name, uint64_t size) {
    const size_t n = std::min<size_t>(name.size(), std::size(progress.exp.fileName) - 1);
    std::copy_n(name.data(), n, progress.exp.fileName);
    progress.exp.fileName[n] = 0;
    progress.exp.fileSize = size;
    progress.exp.fileDone = 0;
}

// The descriptor an OutputFile writes through; closed with it.
struct ExportOutput {
    OutputFile file;
    int fd = -1;
    explicit ExportOutput(int d) : fd(d) {
        if (fd >= 0) file.AttachDescriptor(fd);
    }
    ~ExportOutput() {
        file.Close();
        if (fd >= 0) ::close(fd);
    }
};

// Creates the file, retrying once under the repaired name. An existing entry
// is replaced only where the user's choice covers it: the original path
// (asked or Overwrite), a repaired path only under Overwrite.
int CreateWithRepair(const ExportJob& job, const WString& path, bool existed) {
    int fd = CreateExportFileAt(path, existed);
    if (fd >= 0) return fd;
    const size_t slash = path.rfind(u'/');
    if (slash == WString::npos) return -1;
    const WString repaired = JoinExportPath(
        path.substr(0, slash), RepairComponentName(WStringView(path).substr(slash + 1)));
    if (repaired == path) return -1;
    return CreateExportFileAt(repaired, job.collisionPolicy == kOverwrite);
}

bool WriteNodeData(ExportJob& job, OutputFile& out, const FileNode& node,
                   ProgressSnapshot& progress) {
    PartInfo* part = TreeRowPart(*job.resultSet, job.row);
    if (!part) return false;
    if (part->fsKind == kFsFoundFiles)
        return ExportCarvedFile(out, *part, job.status, node, progress, job.readErrorPolicy);
    return ExportNodeData(out, *part, job.status, node, progress, job.readErrorPolicy);
}

// visited: one mark per node of the row's table, so that a damaged tree that
// lists a node twice (or inside itself) is written once; the path limit
// bounds the depth.
void ExportNodesIn(ExportJob& job, const WString& dir, const std::vector<uint32_t>& items,
                   ProgressSnapshot& progress, std::vector<uint8_t>& visited) {
    ResultSet& rs = *job.resultSet;
    for (uint32_t id : items) {
        if (StopRequested(job)) return;
        if (id >= visited.size() || visited[id]) continue;
        const FileNode* node = TreeRowNode(rs, job.row, id);
        if (!node || !IsNodeVisible(rs, *node) || CheckState(*node) == 0) continue;
        visited[id] = 1;
        const WStringView name(node->name);
        if (!IsDirectory(*node)) {
            const WString path = JoinExportPath(dir, SafeComponentName(name));
            SetCurrentFile(progress, WString(name), node->size);
            ExportOneFile(job, path, *node, progress);
            progress.exp.doneFiles += 1;
            PostProgress(progress);
            continue;
        }
        WString path;
        if (!CreateExportDirectory(dir, name, path)) continue;
        const std::vector<uint32_t> children = VisibleChildren(rs, job.row, id);
        if (!children.empty() && path.size() < kExportPathLimit)
            ExportNodesIn(job, path, children, progress, visited);
    }
}

void ReportFinished(const ProgressSnapshot& progress) {
    char text[256];
    std::snprintf(text, sizeof text, "%s copy data(MB)： %u / %u     File num： %u / %u",
                  kProductAbbrev, uint32_t(progress.exp.doneBytes >> 20),
                  uint32_t(progress.exp.totalBytes >> 20), progress.exp.doneFiles,
                  progress.exp.totalFiles);
    SendReport(kEvExportFinished, text);
}

}  // namespace

void PrepareExportJob(ExportJob& job, ResultSet& rs, const ExportOptions& options) {
    SendReport(kEvExportConfirmed, "");
    Run().ReadStatMode = kReadStatExport;
    Run().ReadCallCount = 0;
    Run().ReadFailCount = 0;
    job.status = kJobRunning;
    job.resultSet = &rs;
    job.currentDir = options.targetDir;
    job.row = 0;
    job.items.clear();
    job.collisionPolicy = options.collisionPolicy;
    job.readErrorPolicy = options.readErrorPolicy;
    job.filesDone = 0;
    job.bytesDone = 0;
}

bool ExportOneFile(ExportJob& job, const WString& path, const FileNode& node,
                   ProgressSnapshot& progress) {
    const bool existed = ExportPathExists(path);
    if (existed) {
        if (job.collisionPolicy == kSkipFile) return false;
        if (job.collisionPolicy == kAskUser &&
            !UserInteraction().AskYesNo(path + kExistsQuestion, false))
            return false;
    }
    ExportOutput out(CreateWithRepair(job, path, existed));
    if (out.fd < 0) return false;
    // An empty file is finished once created. It still takes the node's
    // times: a recovered file's dates are part of what the user gets back.
    if (node.size == 0) {
        SetExportTimes(out.file, node);
        return true;
    }
    return WriteNodeData(job, out.file, node, progress);
}

void ExportNodes(ExportJob& job, ProgressSnapshot& progress) {
    const PartInfo* part = TreeRowPart(*job.resultSet, job.row);
    if (!part) return;
    std::vector<uint8_t> visited(part->nodeCount, 0);
    ExportNodesIn(job, job.currentDir, job.items, progress, visited);
}

void RunExport(ExportJob& job) {
    ProgressSnapshot progress;
    progress.phase = kPhaseExport;
    progress.exp = {};
    ResultSet& rs = *job.resultSet;

    const std::vector<TreeRow> rows = CheckedPartitionRows(rs);
    for (TreeRow row : rows)
        for (uint32_t id : CheckedVisibleChildren(rs, row, kRootNodeId))
            CountSelection(rs, row, id, progress);
    PostProgress(progress);

    const WString target = job.currentDir;
    WString root = ExportRootDir(target);
    if (root.size() > target.size()) {
        WString made;
        if (CreateExportDirectory(target, kExportRootName, made)) root = made;
    } else {
        // The target already is the export root; it may not exist yet.
        ::mkdir(Utf8FromWide(root).c_str(), 0777);
    }
    Run().LastExportDir = root;

    for (TreeRow row : rows) {
        if (StopRequested(job)) break;
        job.row = row;
        job.items = CheckedVisibleChildren(rs, row, kRootNodeId);
        if (job.items.empty()) continue;
        WString dir;
        if (!CreateExportDirectory(root, PartitionLabel(rs, row), dir)) continue;
        job.currentDir = dir;
        ExportNodes(job, progress);
    }

    ReportFinished(progress);
    job.filesDone = progress.exp.doneFiles;
    job.bytesDone = progress.exp.doneBytes;
    if (progress.exp.doneFiles >= 1) {
        const uint64_t kib = progress.exp.doneBytes / 1024;
        Run().ExportTotalKib += kib;
        Run().ExportTotalFiles += progress.exp.doneFiles;
        Run().LastExportKib = kib;
        Run().LastExportFiles = progress.exp.doneFiles;
    }
    job.items.clear();
    job.items.shrink_to_fit();
    int32_t expected = kJobRunning;
    job.status.compare_exchange_strong(expected, kJobDone);
}

void SaveAllToDirThread(void* param) {
    ThreadBegin("SaveAllToDirThread");
    RunExport(*static_cast<ExportJob*>(param));
    ThreadEnd("SaveAllToDirThread");
}

}  // namespace kestrel
