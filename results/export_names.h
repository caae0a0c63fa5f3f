#pragma once
// What an export creates and how it names it. Every name that comes from the
// image (a node name, a partition label) is made safe before anything is
// created: a name can never climb out of the folder it is written into, and
// nothing planted in the target (a symbolic link) is followed.
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

inline constexpr char16_t kExportRootName[] = u"Kestrel恢复的文件";
// Paths of this length and more are created but not descended into.
constexpr size_t kExportPathLimit = 260;

// The folder everything goes into: "Kestrel恢复的文件" inside targetDir, or
// targetDir itself when its last component already is that name.
WString ExportRootDir(const WString& targetDir);
// dir + "/" + name, without a second separator when dir already ends in one.
WString JoinExportPath(const WString& dir, WStringView name);

// A name that stays one component: "/" and NUL become random digits, and an
// empty name, "." or ".." becomes eight random digits.
WString SafeComponentName(WStringView name);
// The repair after a failed creation: every character that is not a legal
// file-name character becomes a random digit, and a name too long for the
// file system (255 bytes in UTF-8) is shortened, keeping its extension.
WString RepairComponentName(WStringView name);

// Creates dir/name as a directory (an existing real directory is accepted,
// a symbolic link is not); on failure retries once with the repaired name.
// path receives the directory created. False when both attempts failed.
bool CreateExportDirectory(const WString& dir, WStringView name, WString& path);

// True when something (a file, a directory, a link, even a dangling one)
// already has this path.
bool ExportPathExists(const WString& path);

// Opens path as a new regular file for writing without following a link.
// With replace, an existing file or link of that name is removed first (the
// link's target is left alone); without it an existing entry makes the call
// fail. Returns the descriptor, or -1.
int CreateExportFileAt(const WString& path, bool replace);

}  // namespace kestrel
