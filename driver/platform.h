// The few operating-system services that differ between POSIX and Windows.
// Each platform implements all of them in one file of its own
// (platform_posix.cc, platform_win32.cc); nothing else in the program
// asks which platform it runs on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// The separator the platform writes between a directory and a name.
char pathSeparator();

// Opens the status log for appending in text mode, creating it when missing.
// While it stays open no other process may write to it (POSIX: an exclusive
// advisory lock taken without waiting; Windows: a deny-write share mode).
// Returns null when the file cannot be opened or is held by another run.
std::FILE* openStatusLogFile(const std::string& path);

// Opens an existing file for reading, untranslated; other processes may read
// it but not write it while it is open. Returns null on any failure.
std::FILE* openConfigFile(const std::string& path);

// Packets are handled through plain descriptors, without any buffering of
// the program's own: every read and write goes straight to the file, so
// there is nothing to flush and a packet is only ever written on purpose.

// Opens an existing packet for reading and writing, untranslated, with full
// sharing. Never creates a file. Returns -1 on any failure.
int openPacketFile(const std::string& path);

// One read or write of at most `size` bytes at the current position: the
// number of bytes moved (0 at the end of the file), or -1 on failure.
std::int64_t readPacketBytes(int packet, void* buffer, std::size_t size);
std::int64_t writePacketBytes(int packet, const void* buffer, std::size_t size);

// Sets the position of an open packet to an absolute 64-bit offset.
bool seekPacketFile(int packet, std::int64_t offset);

// The current length of an open packet in bytes, or -1 when it cannot be learned.
std::int64_t packetFileLength(int packet);

bool closePacketFile(int packet);

// The local broken-down time of a moment.
std::tm localTime(std::time_t moment);
