// Helpers shared by the Windows platform files; nothing outside base/ sees them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/platform.h"

// The narrow path in UTF-16, turned from the ANSI code page.
std::wstring widePath(const std::string& path);

// The absolute form of a path, or empty when it has none.
std::wstring fullPath(const std::wstring& path);

// A full path as the wide functions take it: a long one gets the prefix
// \\?\ (\\?\UNC\ for a network path), which lifts the MAX_PATH limit.
std::wstring extendedWhenLong(const std::wstring& full);

// The path as the wide functions take it, extended when it is long.
std::wstring systemPath(const std::string& path);

// Reading, writing and deletion shared: what every open of a file another
// program may be using asks, so that the open never gets in its way.
constexpr DWORD kFullSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
inline FileHandle fileOf(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }

// An OVERLAPPED that makes ReadFile or WriteFile work at this offset.
OVERLAPPED at(std::int64_t offset);

// What the attributes of a listed or opened entry say it is. Reparse points
// (symbolic links, junctions and their kind) count as links: they could lead
// out of the outbound.
EntryKind kindOf(DWORD attributes);

// True for a plain file on a disk: no device, pipe, directory or reparse point.
bool isPlainDiskFile(HANDLE handle);

// Marks the open file for deletion, which happens when its last handle closes.
bool deleteByHandle(HANDLE handle);

// Renames the open file (opened with DELETE access) to `path`, replacing a
// file of that name only when `replace` is true.
bool renameByHandle(HANDLE handle, const std::string& path, bool replace);
