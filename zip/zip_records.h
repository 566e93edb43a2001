// The record layouts of zip_archive.h as offsets, signatures and flags, for
// the reader and the writer; nothing outside zip/ sees them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "zip/zip_archive.h"

// The CRC-32 of the pieces' bytes, one after the other.
std::uint32_t crcOfPieces(std::initializer_list<ByteSpan> pieces);

namespace zip_record {

constexpr std::uint32_t kLocalSignature = 0x04034b50;       // PK\3\4
constexpr std::uint32_t kCentralSignature = 0x02014b50;     // PK\1\2
constexpr std::uint32_t kEndSignature = 0x06054b50;         // PK\5\6
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;  // PK\7\8, also a split archive's mark
constexpr std::uint32_t kSpanMarker = 0x30304b50;           // PK00, an archive once meant to be split
constexpr std::uint32_t kZip64Locator = 0x07064b50;         // PK\6\7
constexpr std::uint32_t kZip64Mark = 0xFFFFFFFF;            // a field held in the ZIP64 record
constexpr std::uint16_t kZip64ExtraId = 0x0001;

constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kLocalCrc = 14;
constexpr std::size_t kLocalCompressedSize = 18;
constexpr std::size_t kLocalSize32 = 22;
constexpr std::size_t kLocalNameLength = 26;
constexpr std::size_t kLocalExtraLength = 28;

constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kCentralFlags = 8;
constexpr std::size_t kCentralMethod = 10;
constexpr std::size_t kCentralCrc = 16;
constexpr std::size_t kCentralCompressedSize = 20;
constexpr std::size_t kCentralSize32 = 24;
constexpr std::size_t kCentralNameLength = 28;
constexpr std::size_t kCentralExtraLength = 30;
constexpr std::size_t kCentralCommentLength = 32;
constexpr std::size_t kCentralDisk = 34;
constexpr std::size_t kCentralLocalAt = 42;

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEndDisk = 4;
constexpr std::size_t kEndDirectoryDisk = 6;
constexpr std::size_t kEndEntriesHere = 8;
constexpr std::size_t kEndEntries = 10;
constexpr std::size_t kEndDirectorySize = 12;
constexpr std::size_t kEndDirectoryAt = 16;
constexpr std::size_t kEndCommentLength = 20;

constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kDescriptorSize = 12;
constexpr std::size_t kSignedDescriptorSize = 16;

constexpr std::uint16_t kDescriptorFlag = 1u << 3;
// Encrypted data (bit 0), strong encryption (bit 6), an encrypted directory (bit 13).
constexpr std::uint16_t kEncryptedFlags = (1u << 0) | (1u << 6) | (1u << 13);
// Deflate's level as the packer noted it: bits 1 and 2.
constexpr int kLevelShift = 1;

// Compressed data moves in pieces of this size, whatever the member's.
constexpr std::size_t kChunkSize = 64 * 1024;

}  // namespace zip_record
