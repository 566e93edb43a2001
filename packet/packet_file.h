// Whole-buffer reads and writes on an open packet.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads exactly size bytes; false when fewer arrive.
bool readFully(int packet, void* buffer, std::size_t size);

// Writes size bytes at an absolute offset, carrying on after short writes
// while they make progress; false when positioning fails or a write stalls.
bool writeFullyAt(int packet, std::int64_t offset, const void* buffer, std::size_t size);
