// Every failure notes its reason (failure.h): what of a damaged archive
// does not add up, the system's words for a failed read or write.
//
// ZIP archives as ARCmail bundles use them, read member by member and
// written anew member by member: stored and deflated members, data
// descriptors, comments, and bytes after the end record (a DOS packer's ^Z
// padding), which the new archive keeps after its own; no ZIP64, no
// encryption, no archive split over several files. Nothing here knows what
// the members hold.
//
// An archive is its members' records, then the central directory, then the
// end record; every number is little-endian (offsets in decimal):
//
//   local header    0 signature PK\3\4  4 version needed  6 flags  8 method
//                  10 time  12 date  14 CRC-32  18 compressed size  22 size
//                  26 name length  28 extra length  30 name, extra field
//   then the compressed data, and, with flag bit 3, a data descriptor:
//                  [signature PK\7\8] CRC-32, compressed size, size
//   central header  0 signature PK\1\2  4 version made by  6 version needed
//                   8 flags  10 method  12 time  14 date  16 CRC-32
//                  20 compressed size  24 size  28 name length
//                  30 extra length  32 comment length  34 disk
//                  36 internal attributes  38 external attributes
//                  42 local header offset  46 name, extra field, comment
//   end record      0 signature PK\5\6  4 this disk  6 the directory's disk
//                   8 entries on this disk  10 entries  12 directory size
//                  16 directory offset  20 comment length  22 comment
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/platform.h"

constexpr std::uint16_t kZipStored = 0;
constexpr std::uint16_t kZipDeflated = 8;

struct ZipMember {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::string central;          // its central header, name, extra field and comment
  std::int64_t recordAt = 0;    // where its local header is in the file
  std::int64_t dataAt = 0;      // where its compressed data begins
  std::int64_t recordEnd = 0;   // just after its data and data descriptor
};

struct ZipArchive {
  FileHandle file = kNoFile;
  std::vector<ZipMember> members;  // in the order of the central directory
  std::string end;  // the end record, the archive's comment and any bytes after it
};

enum class ZipReading {
  Read,
  NotZip,       // no ZIP signature at its start
  Unsupported,  // ZIP64 (in any record), encryption, or an archive split over several files
  Damaged,      // no end record, or records and sizes that do not add up
  Failed,       // the file could not be read
};

// Reads the central directory of the open archive of `length` bytes and
// checks every member's record against it: each lies whole before the
// directory, and a stored or deflated member's sizes are possible.
ZipReading readZipArchive(FileHandle file, std::int64_t length, ZipArchive* archive);

// A piece of memory a member's content is read into or written from.
struct ByteSpan {
  unsigned char* bytes;
  std::size_t size;
};

enum class MemberReading { Read, Damaged, Failed };

// Reads the content of a stored or deflated member into the pieces, one
// after the other. `whole`: they hold exactly its size, and every
// compressed byte is used and the CRC-32 checked. Otherwise they take the
// first bytes of it, at most its size.
MemberReading readMember(const ZipArchive& archive, const ZipMember& member,
                         std::initializer_list<ByteSpan> pieces, bool whole);

// An archive being written anew, record by record, into a new file.
struct ZipWriter {
  FileHandle file = kNoFile;
  std::int64_t at = 0;   // where the next record goes
  std::string central;   // the central directory so far
};

enum class ZipWrite {
  Written,
  ReadFailed,   // the old archive could not be read
  WriteFailed,  // the new one could not be written, or would need ZIP64
};

// Copies the member's record as it is: its compressed data is not touched.
ZipWrite copyMember(ZipWriter* writer, const ZipArchive& archive, const ZipMember& member);

// Writes the member with the content of the pieces, compressed by its own
// method (a deflated member at the level its flags name), with a new CRC-32
// and sizes; name, time, attributes, extra fields and comment stay as read.
ZipWrite rewriteMember(ZipWriter* writer, const ZipArchive& archive, const ZipMember& member,
                       std::initializer_list<ByteSpan> content);

// Writes the central directory and the end record, with the archive's
// comment. False on a failed write, and when the archive would need ZIP64.
bool finishZip(ZipWriter* writer, const ZipArchive& archive);
