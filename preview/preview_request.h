#pragma once
// One preview request and what processing it gives: the node a browser row
// names is read (at most 32 MiB of it) and turned into the bytes of the hex
// pane plus, by the file's kind, a text or a picture.
#include <cstdint>
#include <optional>

#include "app/observer.h"
#include "fs/result_set.h"
#include "preview/preview_result.h"

namespace kestrel {

// Files up to this size are read whole (texts and documents need all of
// them); larger ones show only the first kHexViewLimit bytes.
constexpr uint64_t kPreviewWholeFileLimit = 0x2000000;
// Smaller documents and archives are not handed to the extractors.
constexpr uint64_t kPreviewExtractMinSize = 1025;

struct PreviewRequest {
    ResultSet* results = nullptr;
    IObserver* target = nullptr;  // the page that shows the result
    TreeRow row = 0;
    uint32_t nodeId = 0;
};

// The result for the request; absent when the request is dropped: the node
// is missing, has no name, or is not visible under the current view rule.
// Reads through the partition's reader; no threads, no locks.
std::optional<PreviewResult> ProcessPreviewRequest(const PreviewRequest& request);

}  // namespace kestrel
