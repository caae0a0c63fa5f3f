// Lengths of signature finds that their format left open.
#include "scan/length_estimate.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrel {
namespace {

FoundItem Item(uint8_t type, uint64_t lba, uint64_t length = 0) {
    FoundItem it;
    it.type = type;
    it.lba = lba;
    it.SetFileLength(length);
    return it;
}

constexpr uint8_t kJpeg = 36, kDoc = 60;

TEST(LengthEstimate, DistanceToTheNextFindOrStructure) {
    struct Case {
        const char* what;
        std::vector<FoundItem> items;
        uint64_t recordEnd;
        std::vector<uint64_t> lengths;
    };
    const std::vector<Case> cases = {
        {"next find", {Item(kJpeg, 100), Item(kDoc, 150)}, 1000, {50 * 512, 0}},
        {"next structure", {Item(kJpeg, 100), Item(kCodeFileRecord, 120)}, 1000, {20 * 512, 0}},
        {"series kinds are no boundary",
         {Item(kJpeg, 100), Item(205, 110), Item(kDoc, 300)},
         1000,
         {200 * 512, 0, 0}},
        {"next not beyond", {Item(kJpeg, 100), Item(kDoc, 100)}, 1000, {0, 0}},
        {"record end when no boundary follows",
         {Item(kJpeg, 100), Item(205, 110)},
         1000,
         {900 * 512, 0}},
        {"capped", {Item(kJpeg, 0), Item(kDoc, 5000000)}, 9000000, {3686400ull * 512, 0}},
        {"known length kept", {Item(kJpeg, 100, 777), Item(kDoc, 150)}, 1000, {777, 0}},
        {"last item keeps 0", {Item(kJpeg, 100)}, 1000, {0}},
    };
    for (Case c : cases) {
        EstimateFindLengths(c.items, c.recordEnd, nullptr);
        for (size_t i = 0; i < c.items.size(); ++i)
            EXPECT_EQ(c.items[i].FileLength(), c.lengths[i]) << c.what << " item " << i;
    }
}

TEST(LengthEstimate, FreeSpaceScanCutsAtTheFirstClusterInUse) {
    // 8-sector clusters from LBA 1000 (cluster 2); clusters 5 and up are in use.
    FreeClusterMap map;
    map.firstClusterLba = 1000;
    map.firstCluster = 2;
    map.clusterCount = 100;
    map.sectorsPerCluster = 8;
    map.isFree = [](uint64_t c) { return c < 5; };

    std::vector<FoundItem> items = {Item(kJpeg, 1000), Item(kJpeg, 1900), Item(kDoc, 2000)};
    EstimateFindLengths(items, 2000, &map);
    EXPECT_EQ(items[0].FileLength(), 3u * 8 * 512) << "clusters 2..4";
    EXPECT_EQ(items[1].FileLength(), 100u * 512) << "outside the clusters: the distance stays";

    uint64_t c = 0;
    EXPECT_TRUE(map.ClusterOf(1015, c));
    EXPECT_EQ(c, 3u);
    EXPECT_FALSE(map.ClusterOf(999, c));
    EXPECT_FALSE(map.ClusterOf(1000 + 800, c));
    EXPECT_TRUE(map.IsClusterStart(1016));
    EXPECT_FALSE(map.IsClusterStart(1017));
    EXPECT_TRUE(map.IsFreeSector(1023));
    EXPECT_FALSE(map.IsFreeSector(1024));
}

}  // namespace
}  // namespace kestrel
