#include "fs/fat_visited.h"

#include <mutex>
#include <unordered_set>

namespace kestrel {

namespace {
std::mutex gLock;
std::unordered_set<uint64_t>& Visited() {
    static std::unordered_set<uint64_t> visited;
    return visited;
}
}  // namespace

void ClearFatVisitedList() {
    std::lock_guard<std::mutex> hold(gLock);
    Visited().clear();
}

bool MarkFatDirectoryVisited(uint64_t lba) {
    std::lock_guard<std::mutex> hold(gLock);
    return Visited().insert(lba).second;
}

bool IsFatDirectoryVisited(uint64_t lba) {
    std::lock_guard<std::mutex> hold(gLock);
    return Visited().count(lba) != 0;
}

std::vector<uint64_t> FatVisitedLbas() {
    std::lock_guard<std::mutex> hold(gLock);
    return std::vector<uint64_t>(Visited().begin(), Visited().end());
}

}  // namespace kestrel
