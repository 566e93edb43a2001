#include "base/file_io.h"

#include "base/failure.h"

namespace {

const char kEndedEarly[] = "the file ends before the bytes to be read";
const char kWroteNothing[] = "the system took no more bytes";

// Calls transfer(done, left) until size bytes have moved; a call that moves
// nothing or fails ends it with false, the reason noted: the system's
// words for a failed call, `stalled` for one that moved nothing.
template <typename Transfer>
bool transferAll(std::size_t size, const char* stalled, Transfer transfer) {
  std::size_t done = 0;
  while (done < size) {
    std::int64_t moved = transfer(done, size - done);
    if (moved == 0) noteFailure(stalled);
    if (moved <= 0) return false;
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

}  // namespace

bool readFullyAt(FileHandle file, std::int64_t offset, void* buffer, std::size_t size) {
  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  return transferAll(size, kEndedEarly, [&](std::size_t done, std::size_t left) {
    return readFileBytesAt(file, offset + static_cast<std::int64_t>(done), bytes + done, left);
  });
}

bool writeFullyAt(FileHandle file, std::int64_t offset, const void* buffer, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  return transferAll(size, kWroteNothing, [&](std::size_t done, std::size_t left) {
    return writeFileBytesAt(file, offset + static_cast<std::int64_t>(done), bytes + done, left);
  });
}

bool writeFully(FileHandle file, const void* buffer, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
  return transferAll(size, kWroteNothing, [&](std::size_t done, std::size_t left) {
    return writeFileBytes(file, bytes + done, left);
  });
}

bool unchangedSince(const std::string& path, FileHandle file, const FileStatus& read) {
  FileStatus now;
  return nameStandsFor(path, file) && fileStatus(file, &now) && now.length == read.length &&
         now.modified == read.modified;
}
