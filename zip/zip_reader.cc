#include <zlib.h>

#include <algorithm>
#include <limits>

#include "base/failure.h"
#include "base/file_io.h"
#include "base/little_endian.h"
#include "zip/zip_archive.h"
#include "zip/zip_records.h"

namespace {

using namespace zip_record;

std::uint32_t littleAt(const std::string& bytes, std::size_t at) {
  return readLittle32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

std::uint16_t little16At(const std::string& bytes, std::size_t at) {
  return readLittle16(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

// A damaged archive, and why.
ZipReading damaged(const std::string& why) {
  noteFailure(why);
  return ZipReading::Damaged;
}

bool readBytesAt(FileHandle file, std::int64_t at, std::size_t size, std::string* bytes) {
  bytes->assign(size, '\0');
  return readFullyAt(file, at, &(*bytes)[0], size);
}

ZipReading startOf(FileHandle file, std::int64_t length) {
  std::string start;
  if (length < 4) return ZipReading::NotZip;
  if (!readBytesAt(file, 0, 4, &start)) return ZipReading::Failed;
  const std::uint32_t signature = littleAt(start, 0);
  if (signature == kDescriptorSignature || signature == kSpanMarker) return ZipReading::Unsupported;
  if (signature != kLocalSignature && signature != kEndSignature) return ZipReading::NotZip;
  return ZipReading::Read;
}

// True when the end record at `at` of `bytes`, which stands at `endAt` in
// the file, has its central directory end right before it.
bool directoryEndsBefore(const std::string& bytes, std::size_t at, std::int64_t endAt) {
  return std::int64_t{littleAt(bytes, at + kEndDirectoryAt)} +
             littleAt(bytes, at + kEndDirectorySize) ==
         endAt;
}

// The end record, found from the end of the file: the last signature whose
// comment ends with the file; failing that, as Info-ZIP reads an archive a
// DOS packer padded with ^Z, the last whose comment fits before the end and
// whose central directory ends right before it. `end` holds the record,
// its comment and what follows, to be written after the new record again.
ZipReading findEnd(FileHandle file, std::int64_t length, std::int64_t* endAt, std::string* end) {
  const std::size_t tailSize = static_cast<std::size_t>(
      std::min<std::int64_t>(length, kEndSize + std::numeric_limits<std::uint16_t>::max()));
  std::string tail;
  const std::int64_t tailAt = length - static_cast<std::int64_t>(tailSize);
  if (!readBytesAt(file, tailAt, tailSize, &tail)) return ZipReading::Failed;
  std::size_t found = std::string::npos;
  for (std::size_t at = tailSize >= kEndSize ? tailSize - kEndSize + 1 : 0; at-- > 0;) {
    if (littleAt(tail, at) != kEndSignature) continue;
    const std::size_t recordEnd = at + kEndSize + little16At(tail, at + kEndCommentLength);
    if (recordEnd == tailSize) {
      found = at;
      break;
    }
    if (recordEnd < tailSize && found == std::string::npos &&
        directoryEndsBefore(tail, at, tailAt + static_cast<std::int64_t>(at))) {
      found = at;
    }
  }
  if (found == std::string::npos) return damaged("no end record");
  // A ZIP64 archive has its locator right before the end record.
  if (found >= kZip64LocatorSize && littleAt(tail, found - kZip64LocatorSize) == kZip64Locator) {
    return ZipReading::Unsupported;
  }
  *endAt = tailAt + static_cast<std::int64_t>(found);
  *end = tail.substr(found);
  return ZipReading::Read;
}

ZipReading checkEnd(const std::string& end, std::int64_t endAt) {
  const std::uint16_t entries = little16At(end, kEndEntries);
  if (little16At(end, kEndDisk) != 0 || little16At(end, kEndDirectoryDisk) != 0 ||
      little16At(end, kEndEntriesHere) != entries || entries == 0xFFFF ||
      littleAt(end, kEndDirectorySize) == kZip64Mark ||
      littleAt(end, kEndDirectoryAt) == kZip64Mark) {
    return ZipReading::Unsupported;
  }
  return directoryEndsBefore(end, 0, endAt)
             ? ZipReading::Read
             : damaged("the central directory does not end at the end record");
}

bool hasZip64Field(const std::string& extra) {
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    if (little16At(extra, at) == kZip64ExtraId) return true;
    at += 4 + little16At(extra, at + 2);
  }
  return false;
}

// Takes the central header at `at` into `member`; `next` is where the next
// one begins.
ZipReading takeCentral(const std::string& directory, std::size_t at, ZipMember* member,
                       std::size_t* next) {
  if (at + kCentralSize > directory.size() || littleAt(directory, at) != kCentralSignature) {
    return damaged("the central directory is cut short");
  }
  const std::size_t nameLength = little16At(directory, at + kCentralNameLength);
  const std::size_t extraLength = little16At(directory, at + kCentralExtraLength);
  const std::size_t commentLength = little16At(directory, at + kCentralCommentLength);
  *next = at + kCentralSize + nameLength + extraLength + commentLength;
  if (*next > directory.size()) return damaged("the central directory is cut short");
  member->central = directory.substr(at, *next - at);
  member->name = member->central.substr(kCentralSize, nameLength);
  member->flags = little16At(directory, at + kCentralFlags);
  member->method = little16At(directory, at + kCentralMethod);
  member->crc = littleAt(directory, at + kCentralCrc);
  member->compressedSize = littleAt(directory, at + kCentralCompressedSize);
  member->size = littleAt(directory, at + kCentralSize32);
  member->recordAt = littleAt(directory, at + kCentralLocalAt);
  const bool zip64 = member->compressedSize == kZip64Mark || member->size == kZip64Mark ||
                     member->recordAt == kZip64Mark ||
                     hasZip64Field(member->central.substr(kCentralSize + nameLength, extraLength));
  if ((member->flags & kEncryptedFlags) != 0 || zip64 ||
      little16At(directory, at + kCentralDisk) != 0) {
    return ZipReading::Unsupported;
  }
  return ZipReading::Read;
}

// A size a stored or deflated member cannot have: deflate packs at most
// 1032 bytes into one.
bool impossibleSize(const ZipMember& member) {
  if (member.method == kZipStored) return member.size != member.compressedSize;
  return member.method == kZipDeflated &&
         member.size / 1032 > std::uint64_t{member.compressedSize} + 1;
}

bool describes(const std::string& bytes, std::size_t at, const ZipMember& member) {
  return bytes.size() >= at + kDescriptorSize && littleAt(bytes, at) == member.crc &&
         littleAt(bytes, at + 4) == member.compressedSize && littleAt(bytes, at + 8) == member.size;
}

// The size of the data descriptor at `dataEnd`, with its optional signature
// or without, that matches the directory; 0 when there is none.
ZipReading descriptorAt(FileHandle file, std::int64_t dataEnd, std::int64_t directoryAt,
                        const ZipMember& member, std::size_t* size) {
  *size = 0;
  const std::size_t room = static_cast<std::size_t>(std::max<std::int64_t>(
      0, std::min<std::int64_t>(kSignedDescriptorSize, directoryAt - dataEnd)));
  std::string bytes;
  if (!readBytesAt(file, dataEnd, room, &bytes)) return ZipReading::Failed;
  if (room == kSignedDescriptorSize && littleAt(bytes, 0) == kDescriptorSignature &&
      describes(bytes, 4, member)) {
    *size = kSignedDescriptorSize;
  } else if (describes(bytes, 0, member)) {
    *size = kDescriptorSize;
  }
  return *size != 0 ? ZipReading::Read : damaged("no data descriptor after " + member.name);
}

// Finds where the member's data and record end from its local header,
// which must lie, with its data and data descriptor, before `directoryAt`.
// A ZIP64 field there (Python writes one when told to) is as unsupported
// as one in the directory.
ZipReading placeRecord(FileHandle file, std::int64_t directoryAt, ZipMember* member) {
  std::string local;
  const std::string lost = "the record of " + member->name + " is not where the directory says";
  if (member->recordAt + std::int64_t{kLocalSize} > directoryAt) return damaged(lost);
  if (!readBytesAt(file, member->recordAt, kLocalSize, &local)) return ZipReading::Failed;
  if (littleAt(local, 0) != kLocalSignature) return damaged(lost);
  const std::size_t nameLength = little16At(local, kLocalNameLength);
  const std::size_t extraLength = little16At(local, kLocalExtraLength);
  member->dataAt = member->recordAt + std::int64_t{kLocalSize} +
                   static_cast<std::int64_t>(nameLength + extraLength);
  if (member->dataAt > directoryAt) return damaged(lost);
  std::string extra;
  if (!readBytesAt(file, member->recordAt + std::int64_t{kLocalSize} +
                             static_cast<std::int64_t>(nameLength),
                   extraLength, &extra)) {
    return ZipReading::Failed;
  }
  if (hasZip64Field(extra) || littleAt(local, kLocalCompressedSize) == kZip64Mark ||
      littleAt(local, kLocalSize32) == kZip64Mark) {
    return ZipReading::Unsupported;
  }
  const std::int64_t dataEnd = member->dataAt + member->compressedSize;
  std::size_t descriptor = 0;
  if ((member->flags & kDescriptorFlag) != 0) {
    ZipReading found = descriptorAt(file, dataEnd, directoryAt, *member, &descriptor);
    if (found != ZipReading::Read) return found;
  } else if (littleAt(local, kLocalCompressedSize) != member->compressedSize) {
    return damaged("the sizes of " + member->name + " do not add up");
  }
  member->recordEnd = dataEnd + static_cast<std::int64_t>(descriptor);
  if (member->recordEnd > directoryAt) return damaged(member->name + " runs into the directory");
  return impossibleSize(*member) ? damaged("the sizes of " + member->name + " do not add up")
                                 : ZipReading::Read;
}

ZipReading readMembers(FileHandle file, const std::string& end, ZipArchive* archive) {
  const std::int64_t directoryAt = littleAt(end, kEndDirectoryAt);
  std::string directory;
  if (!readBytesAt(file, directoryAt, littleAt(end, kEndDirectorySize), &directory)) {
    return ZipReading::Failed;
  }
  const std::size_t entries = little16At(end, kEndEntries);
  std::size_t at = 0;
  for (std::size_t i = 0; i < entries; ++i) {
    ZipMember member;
    ZipReading taken = takeCentral(directory, at, &member, &at);
    if (taken == ZipReading::Read) taken = placeRecord(file, directoryAt, &member);
    if (taken != ZipReading::Read) return taken;
    archive->members.push_back(std::move(member));
  }
  return at == directory.size() ? ZipReading::Read
                                : damaged("the central directory holds more than its entries");
}

}  // namespace

ZipReading readZipArchive(FileHandle file, std::int64_t length, ZipArchive* archive) {
  *archive = ZipArchive{};
  archive->file = file;
  std::int64_t endAt = 0;
  ZipReading reading = startOf(file, length);
  if (reading == ZipReading::Read) reading = findEnd(file, length, &endAt, &archive->end);
  if (reading == ZipReading::Read) reading = checkEnd(archive->end, endAt);
  if (reading == ZipReading::Read) reading = readMembers(file, archive->end, archive);
  return reading;
}

namespace {

// Where inflated bytes go: the pieces one after the other, then a byte
// that only content beyond them reaches.
struct Sink {
  std::vector<ByteSpan> pieces;
  std::size_t next = 0;
  unsigned char beyond = 0;
};

void aimOutput(z_stream* stream, Sink* sink) {
  while (sink->next < sink->pieces.size() && sink->pieces[sink->next].size == 0) ++sink->next;
  if (sink->next < sink->pieces.size()) {
    stream->next_out = sink->pieces[sink->next].bytes;
    stream->avail_out = static_cast<uInt>(sink->pieces[sink->next].size);
    ++sink->next;
  } else {
    stream->next_out = &sink->beyond;
    stream->avail_out = 1;
  }
}

std::size_t totalSize(std::initializer_list<ByteSpan> pieces) {
  std::size_t total = 0;
  for (const ByteSpan& piece : pieces) total += piece.size;
  return total;
}

MemberReading readStored(const ZipArchive& archive, const ZipMember& member,
                         std::initializer_list<ByteSpan> pieces) {
  std::int64_t at = member.dataAt;
  for (const ByteSpan& piece : pieces) {
    if (!readFullyAt(archive.file, at, piece.bytes, piece.size)) return MemberReading::Failed;
    at += static_cast<std::int64_t>(piece.size);
  }
  return MemberReading::Read;
}

// Feeds the inflater the next chunk of the member's compressed data when it
// has used the last; false when a read failed.
struct Input {
  std::vector<unsigned char> chunk = std::vector<unsigned char>(kChunkSize);
  std::int64_t at = 0;
  std::int64_t left = 0;
};

bool refill(FileHandle file, Input* input, z_stream* stream) {
  if (stream->avail_in != 0 || input->left == 0) return true;
  const std::size_t part =
      static_cast<std::size_t>(std::min<std::int64_t>(input->left, kChunkSize));
  if (!readFullyAt(file, input->at, input->chunk.data(), part)) return false;
  input->at += static_cast<std::int64_t>(part);
  input->left -= static_cast<std::int64_t>(part);
  stream->next_in = input->chunk.data();
  stream->avail_in = static_cast<uInt>(part);
  return true;
}

MemberReading readDeflated(const ZipArchive& archive, const ZipMember& member,
                           std::initializer_list<ByteSpan> pieces, bool whole) {
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    noteFailure("zlib could not begin to inflate");
    return MemberReading::Failed;
  }
  Sink sink{std::vector<ByteSpan>(pieces)};
  Input input;
  input.at = member.dataAt;
  input.left = member.compressedSize;
  const uLong wanted = static_cast<uLong>(totalSize(pieces));
  bool failed = false;
  int status = Z_OK;
  aimOutput(&stream, &sink);
  // A whole member goes on to the end of its stream, which must come with
  // its last compressed byte and not a byte beyond its size.
  while (status == Z_OK && stream.total_out <= wanted && (whole || stream.total_out < wanted)) {
    if (!refill(archive.file, &input, &stream)) {
      failed = true;
      break;
    }
    status = inflate(&stream, Z_NO_FLUSH);
    if (stream.avail_out == 0) aimOutput(&stream, &sink);
  }
  const bool complete = whole ? status == Z_STREAM_END && stream.total_out == wanted &&
                                    stream.avail_in == 0 && input.left == 0
                              : stream.total_out == wanted;
  inflateEnd(&stream);
  if (failed) return MemberReading::Failed;
  if (complete) return MemberReading::Read;
  noteFailure(member.name + " does not inflate to its size");
  return MemberReading::Damaged;
}

}  // namespace

std::uint32_t crcOfPieces(std::initializer_list<ByteSpan> pieces) {
  uLong crc = crc32(0, Z_NULL, 0);
  for (const ByteSpan& piece : pieces) {
    for (std::size_t done = 0; done < piece.size;) {
      const uInt part = static_cast<uInt>(std::min<std::size_t>(piece.size - done, 1u << 30));
      crc = crc32(crc, piece.bytes + done, part);
      done += part;
    }
  }
  return static_cast<std::uint32_t>(crc);
}

MemberReading readMember(const ZipArchive& archive, const ZipMember& member,
                         std::initializer_list<ByteSpan> pieces, bool whole) {
  const std::size_t wanted = totalSize(pieces);
  if (wanted > member.size || (whole && wanted != member.size)) {
    noteFailure("the sizes of " + member.name + " do not add up");
    return MemberReading::Damaged;
  }
  MemberReading reading = member.method == kZipStored ? readStored(archive, member, pieces)
                                                      : readDeflated(archive, member, pieces, whole);
  if (reading == MemberReading::Read && whole && crcOfPieces(pieces) != member.crc) {
    noteFailure("bad CRC of " + member.name);
    return MemberReading::Damaged;
  }
  return reading;
}
