#pragma once
// The export step of kestrel-cli recover: the checked files of a result set
// written below the --out folder with the chosen policies.
#include <string>

#include "cli/recover_options.h"
#include "fs/result_set.h"

namespace kestrel::cli {

// Runs the export synchronously and returns its summary text (read errors,
// when there were any, go to stderr first).
std::string ExportCheckedFiles(ResultSet& rs, const RecoverOptions& o);

}  // namespace kestrel::cli
