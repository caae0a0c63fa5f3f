// Every analyzer over mutated and truncated copies of every sample: whatever
// the bytes, an analysis ends with a defined status and reads nothing outside
// its buffer (run under ASan+UBSan to catch the latter).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "carving/signature_find.h"
#include "tests/carving/carving_samples.h"

namespace kestrel {
namespace {

using test::Bytes;

constexpr uint32_t kAnalyzedTypes[] = {73, 67, 61, 62, 54, 53,  46, 48, 37,
                                       36, 66, 86, 64, 82, 108, 49, 39, 41};

const char* const kSampleFiles[] = {
    "sample.3gp",  "sample.avi", "sample.bmp",          "sample.doc",       "sample.docx",
    "sample.flv",  "sample.jpg", "sample.m4a",          "sample.mkv",       "sample.mov",
    "sample.mp3",  "sample.mp4", "sample.mpg",          "sample.ppt",       "sample.pptx",
    "sample.rm",   "sample.tif", "sample.wav",          "sample.wmv",       "sample.xls",
    "sample.xlsx", "sample.zip", "sample_streamed.zip", "sample_small.tif",
};

void Mutate(Bytes& b, std::mt19937& rng) {
    std::uniform_int_distribution<int> kind(0, 5);
    switch (kind(rng)) {
        case 0: {  // cut anywhere
            b.resize(std::uniform_int_distribution<size_t>(0, b.size())(rng));
            break;
        }
        case 1: {  // a field set to an extreme value
            if (b.size() < 4) break;
            size_t at =
                std::uniform_int_distribution<size_t>(0, std::min<size_t>(b.size(), 8192) - 4)(rng);
            const uint8_t v = std::uniform_int_distribution<int>(0, 1)(rng) ? 0xFF : 0x00;
            std::fill(b.begin() + ptrdiff_t(at), b.begin() + ptrdiff_t(at + 4), v);
            break;
        }
        default: {  // a few random bytes, mostly in the headers
            const int flips = std::uniform_int_distribution<int>(1, 16)(rng);
            for (int i = 0; i < flips && !b.empty(); ++i) {
                const size_t span = std::uniform_int_distribution<int>(0, 3)(rng) ? 4096 : b.size();
                size_t at =
                    std::uniform_int_distribution<size_t>(0, std::min(span, b.size()) - 1)(rng);
                b[at] = uint8_t(rng());
            }
        }
    }
}

TEST(AnalyzerFuzz, MutatedSamplesEndWithADefinedStatus) {
    std::mt19937 rng(20261211);
    std::vector<Bytes> samples;
    for (const char* name : kSampleFiles) samples.push_back(test::LoadSample(name));
    samples.push_back(test::MakeRar4());
    samples.push_back(test::MakeChm(0x2000));
    samples.push_back(test::MakeHlp(0x1000, 0x200));

    // One window-sized buffer for the raw walk, which only runs with 56 MiB in memory.
    Bytes window(0x4000000, 0);
    size_t runs = 0, complete = 0;
    for (const Bytes& sample : samples) {
        const int iterations = sample.size() > 0x100000 ? 12 : 110;
        for (int it = 0; it < iterations; ++it) {
            Bytes copy = sample;
            Mutate(copy, rng);
            // The find starts at the buffer's first sector or a few sectors in.
            const uint64_t lead = std::uniform_int_distribution<int>(0, 2)(rng) == 0 ? 3 : 0;
            Bytes buffer(size_t(lead) * 512 + ((copy.size() + 4096) & ~size_t(511)), 0);
            std::copy(copy.begin(), copy.end(), buffer.begin() + ptrdiff_t(lead * 512));
            for (uint32_t type : kAnalyzedTypes) {
                SignatureFind find{};
                find.typeId = type;
                find.startSector = 5000 + lead;
                const bool big = type == 49;
                if (big) {
                    std::fill(window.begin(), window.begin() + ptrdiff_t(sample.size() + 4096), 0);
                    std::copy(copy.begin(), copy.end(), window.begin());
                    find.startSector = 5000;
                }
                const uint32_t status =
                    big ? AnalyzeSignatureFind(window.data(), window.size(), find, 5000)
                        : AnalyzeSignatureFind(buffer.data(), buffer.size(), find, 5000);
                ++runs;
                ASSERT_TRUE(status == kFindPending || status == kFindComplete ||
                            status == kFindRejected)
                    << "type " << type << " status " << status;
                ASSERT_EQ(find.status, status);
                if (status == kFindComplete) {
                    ++complete;
                    ASSERT_GT(find.length, 0u) << "type " << type;
                }
                if (status == kFindPending) {
                    ASSERT_LE(find.neededFirst, find.neededLast);
                }
            }
        }
    }
    EXPECT_GT(runs, 40000u);
    EXPECT_GT(complete, 100u);
}

TEST(AnalyzerFuzz, PendingFindsResumeOnRandomWindows) {
    // Finds cut off at the end of their first block, resumed over a window
    // whose later blocks are random: each ends, none reads outside the window.
    std::mt19937 rng(7);
    Bytes window(2 * kBlockBytes);
    std::generate(window.begin(), window.end(), [&] { return uint8_t(rng()); });
    const char* const files[] = {"sample.avi", "sample.mp4", "sample.zip", "sample.mp3",
                                 "sample.doc", "sample.jpg", "sample.mpg", "sample.wmv"};
    const uint32_t types[] = {73, 72, 61, 54, 36, 46, 82, 108};
    for (size_t f = 0; f < std::size(files); ++f) {
        Bytes file = test::LoadSample(files[f]);
        for (int it = 0; it < 8; ++it) {
            // New random bytes where the previous find lay.
            std::generate(window.begin() + ptrdiff_t(kBlockBytes - 0x1000),
                          window.begin() + ptrdiff_t(kBlockBytes + 0x10000),
                          [&] { return uint8_t(rng()); });
            const size_t at = kBlockBytes - 512 * (1 + rng() % 4);
            const size_t n = std::min(file.size(), kBlockBytes - at);
            std::copy(file.begin(), file.begin() + ptrdiff_t(n), window.begin() + ptrdiff_t(at));
            SignatureFind find{};
            find.typeId = types[f];
            find.startSector = at / 512;
            uint32_t status = AnalyzeSignatureFind(window.data(), kBlockBytes, find, 0);
            for (int resume = 0; status == kFindPending && resume < 4; ++resume)
                status = AnalyzeSignatureFind(window.data(), window.size(), find, 0);
            EXPECT_TRUE(status == kFindPending || status == kFindComplete ||
                        status == kFindRejected);
        }
    }
}

}  // namespace
}  // namespace kestrel
