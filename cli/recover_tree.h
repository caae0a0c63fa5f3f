#pragma once
// The result tree of a recovery as text: for every partition whose root is
// visible, its label on a line of its own, then one tab-separated line per
// visible node below it as kestrel-cli ls prints them (state, size,
// modified, path).
#include <cstdio>

#include "fs/result_set.h"

namespace kestrel::cli {

void PrintResultTree(ResultSet& rs, std::FILE* out);

}  // namespace kestrel::cli
