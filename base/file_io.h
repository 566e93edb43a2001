// Whole-buffer reads and writes on an open file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/platform.h"

// Each notes why it failed (failure.h).
//
// Reads exactly size bytes from an absolute offset; false when fewer arrive.
bool readFullyAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size);

// Writes size bytes at an absolute offset, or where the file is, carrying on
// after short writes while they make progress; false when a write fails or
// stalls.
bool writeFullyAt(FileHandle file, std::int64_t offset, const void* buffer, std::size_t size);
bool writeFully(FileHandle file, const void* buffer, std::size_t size);

// True when `path` still names the open file, and the file has the length
// and the time of last write `read` found: nothing has written it since,
// and no other file has taken its name.
bool unchangedSince(const std::string& path, FileHandle file, const FileStatus& read);
