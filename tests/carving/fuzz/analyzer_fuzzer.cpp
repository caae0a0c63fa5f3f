// libFuzzer entry point over the signature sniff and every format analyzer.
// The first input byte picks the analyzer and where the find starts; the
// rest is the file. Build and run (from the source root):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. \
//     tests/carving/fuzz/analyzer_fuzzer.cpp carving/signature_sniff.cpp \
//     carving/find_bytes.cpp carving/analyzers/*.cpp -o analyzer_fuzzer
//   ./analyzer_fuzzer -max_total_time=60 -max_len=1048576
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "carving/signature_find.h"

namespace {

constexpr uint32_t kTypes[] = {73, 67, 61, 62, 54, 53, 46, 48, 37,
                               36, 66, 86, 64, 82, 108, 49, 39, 41};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t pick = data[0];
    ++data;
    --size;
    const uint64_t lead = (pick >> 5) & 3;  // sectors before the find's start
    std::vector<uint8_t> buffer(size_t(lead) * 512 + ((size + 511) & ~size_t(511)) + 512, 0);
    std::copy(data, data + size, buffer.begin() + ptrdiff_t(lead * 512));

    uint32_t sniffed = 0;
    kestrel::SniffFileSignature(buffer.data() + lead * 512, sniffed);

    kestrel::SignatureFind find{};
    find.typeId = kTypes[pick % std::size(kTypes)];
    find.startSector = 100 + lead;
    uint32_t status = kestrel::AnalyzeSignatureFind(buffer.data(), buffer.size(), find, 100);
    // A pending find resumed over the same bytes must end too.
    if (status == kestrel::kFindPending)
        status = kestrel::AnalyzeSignatureFind(buffer.data(), buffer.size(), find, 100);
    if (status != kestrel::kFindPending && status != kestrel::kFindComplete &&
        status != kestrel::kFindRejected)
        std::abort();
    if (status == kestrel::kFindComplete && find.length == 0) std::abort();
    return 0;
}
