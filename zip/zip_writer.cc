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

constexpr std::int64_t kLargestOffset = std::numeric_limits<std::uint32_t>::max();

unsigned char* bytesOf(std::string* text) { return reinterpret_cast<unsigned char*>(&(*text)[0]); }

bool put(ZipWriter* writer, const void* bytes, std::size_t size) {
  if (!writeFullyAt(writer->file, writer->at, bytes, size)) return false;
  writer->at += static_cast<std::int64_t>(size);
  return true;
}

// The member's central header, as it stands now in the new archive.
void addCentral(ZipWriter* writer, const ZipMember& member, std::int64_t recordAt,
                std::uint32_t crc, std::uint32_t compressedSize, std::uint32_t size) {
  std::string central = member.central;
  writeLittle32(bytesOf(&central) + kCentralCrc, crc);
  writeLittle32(bytesOf(&central) + kCentralCompressedSize, compressedSize);
  writeLittle32(bytesOf(&central) + kCentralSize32, size);
  writeLittle32(bytesOf(&central) + kCentralLocalAt, static_cast<std::uint32_t>(recordAt));
  writer->central += central;
}

// Copies the bytes [from, to) of the old archive to the new one.
ZipWrite copyBytes(ZipWriter* writer, const ZipArchive& archive, std::int64_t from,
                   std::int64_t to) {
  std::vector<unsigned char> chunk(kChunkSize);
  while (from < to) {
    const std::size_t part = static_cast<std::size_t>(std::min<std::int64_t>(to - from, kChunkSize));
    if (!readFullyAt(archive.file, from, chunk.data(), part)) return ZipWrite::ReadFailed;
    if (!put(writer, chunk.data(), part)) return ZipWrite::WriteFailed;
    from += static_cast<std::int64_t>(part);
  }
  return ZipWrite::Written;
}

ZipWrite writtenIf(bool written) { return written ? ZipWrite::Written : ZipWrite::WriteFailed; }

// Offsets and sizes past 4 GiB: what this writer does not write.
ZipWrite tooLargeWithoutZip64() {
  noteFailure("the new archive would need ZIP64");
  return ZipWrite::WriteFailed;
}

int deflateLevel(std::uint16_t flags) {
  switch ((flags >> kLevelShift) & 3) {
    case 1: return Z_BEST_COMPRESSION;
    case 2:
    case 3: return Z_BEST_SPEED;
    default: return Z_DEFAULT_COMPRESSION;
  }
}

// Deflates the pieces into the new archive in chunks; `compressed` receives
// how many bytes it wrote.
bool putDeflated(ZipWriter* writer, std::uint16_t flags, std::initializer_list<ByteSpan> content,
                 std::int64_t* compressed) {
  z_stream stream{};
  if (deflateInit2(&stream, deflateLevel(flags), Z_DEFLATED, -MAX_WBITS, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    noteFailure("zlib could not begin to deflate");
    return false;
  }
  std::vector<ByteSpan> pieces(content);
  if (pieces.empty()) pieces.push_back(ByteSpan{nullptr, 0});
  std::vector<unsigned char> output(kChunkSize);
  const std::int64_t start = writer->at;
  bool written = true;
  int status = Z_OK;
  for (std::size_t i = 0; written && i < pieces.size(); ++i) {
    stream.next_in = pieces[i].bytes;
    stream.avail_in = static_cast<uInt>(pieces[i].size);
    const int flush = i + 1 == pieces.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = output.data();
      stream.avail_out = static_cast<uInt>(output.size());
      status = deflate(&stream, flush);
      written = status != Z_STREAM_ERROR &&
                put(writer, output.data(), output.size() - stream.avail_out);
    } while (written && stream.avail_out == 0);
  }
  deflateEnd(&stream);
  *compressed = writer->at - start;
  if (written && status != Z_STREAM_END) noteFailure("zlib could not deflate");
  return written && status == Z_STREAM_END;
}

bool putStored(ZipWriter* writer, std::initializer_list<ByteSpan> content) {
  for (const ByteSpan& piece : content) {
    if (!put(writer, piece.bytes, piece.size)) return false;
  }
  return true;
}

// The data descriptor after the new data, in the form the old one had.
bool putDescriptor(ZipWriter* writer, const ZipMember& member, std::uint32_t crc,
                   std::uint32_t compressedSize, std::uint32_t size) {
  unsigned char descriptor[kSignedDescriptorSize];
  const bool signedOne =
      member.recordEnd - member.dataAt - member.compressedSize == std::int64_t{kSignedDescriptorSize};
  unsigned char* at = descriptor;
  if (signedOne) {
    writeLittle32(at, kDescriptorSignature);
    at += 4;
  }
  writeLittle32(at, crc);
  writeLittle32(at + 4, compressedSize);
  writeLittle32(at + 8, size);
  return put(writer, descriptor, signedOne ? kSignedDescriptorSize : kDescriptorSize);
}

}  // namespace

ZipWrite copyMember(ZipWriter* writer, const ZipArchive& archive, const ZipMember& member) {
  const std::int64_t recordAt = writer->at;
  if (recordAt > kLargestOffset) return tooLargeWithoutZip64();
  addCentral(writer, member, recordAt, member.crc, member.compressedSize, member.size);
  return copyBytes(writer, archive, member.recordAt, member.recordEnd);
}

ZipWrite rewriteMember(ZipWriter* writer, const ZipArchive& archive, const ZipMember& member,
                       std::initializer_list<ByteSpan> content) {
  std::uint64_t size = 0;
  for (const ByteSpan& piece : content) size += piece.size;
  const std::int64_t recordAt = writer->at;
  std::string local(static_cast<std::size_t>(member.dataAt - member.recordAt), '\0');
  if (recordAt > kLargestOffset || size > std::numeric_limits<std::uint32_t>::max()) {
    return tooLargeWithoutZip64();
  }
  if (!readFullyAt(archive.file, member.recordAt, &local[0], local.size())) {
    return ZipWrite::ReadFailed;
  }
  std::int64_t compressed = static_cast<std::int64_t>(size);
  const bool written = put(writer, local.data(), local.size()) &&
                       (member.method == kZipStored
                            ? putStored(writer, content)
                            : putDeflated(writer, member.flags, content, &compressed));
  if (!written) return ZipWrite::WriteFailed;
  if (compressed > kLargestOffset) return tooLargeWithoutZip64();
  const std::uint32_t crc = crcOfPieces(content);
  const auto compressedSize = static_cast<std::uint32_t>(compressed);
  const auto newSize = static_cast<std::uint32_t>(size);
  addCentral(writer, member, recordAt, crc, compressedSize, newSize);
  if ((member.flags & kDescriptorFlag) != 0) {
    return writtenIf(putDescriptor(writer, member, crc, compressedSize, newSize));
  }
  writeLittle32(bytesOf(&local) + kLocalCrc, crc);
  writeLittle32(bytesOf(&local) + kLocalCompressedSize, compressedSize);
  writeLittle32(bytesOf(&local) + kLocalSize32, newSize);
  return writtenIf(writeFullyAt(writer->file, recordAt, local.data(), kLocalSize));
}

bool finishZip(ZipWriter* writer, const ZipArchive& archive) {
  const std::int64_t directoryAt = writer->at;
  if (directoryAt > kLargestOffset ||
      writer->central.size() > static_cast<std::size_t>(kLargestOffset)) {
    tooLargeWithoutZip64();
    return false;
  }
  std::string end = archive.end;
  writeLittle32(bytesOf(&end) + kEndDirectorySize, static_cast<std::uint32_t>(writer->central.size()));
  writeLittle32(bytesOf(&end) + kEndDirectoryAt, static_cast<std::uint32_t>(directoryAt));
  return put(writer, writer->central.data(), writer->central.size()) &&
         put(writer, end.data(), end.size());
}
