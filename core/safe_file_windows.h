// What the Windows files of safe_file share: paths in the system's long
// form, the system's reasons as UTF-8.
#pragma once

#include "safe_file_platform.h"

#include <string>

#include <windows.h>

namespace safe_file::platform {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, std::size_t size);
// The path as the system takes it beyond MAX_PATH: absolute, backslashes
// only, with the \\?\ (or \\?\UNC\) prefix.
std::wstring LongPath(const std::string& utf8);
std::string SystemReason(DWORD error);
bool Exists(const std::wstring& path);
// True when a program has path open so that an open for deleting that
// shares only share is refused: with share 0, open by anyone at all.
bool HeldOpen(const std::wstring& path, DWORD share);

// What the name of the old file's backup during a swap begins with, in the
// target's folder (".unitrules.xml.replaced-").
std::string BackupPrefix(const std::string& target);
// Under the swap turn: removes every backup of target, where target is there.
void RemoveAbandonedBackups(const std::string& target);
// The file a save of path replaces, also where path is a link to a file that
// is missing now.
std::string LinkTarget(const std::string& path);

}  // namespace safe_file::platform
