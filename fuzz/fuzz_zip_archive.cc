// Any bytes as a bundle. Reading its directory and its members never
// crashes or reads outside the file; an archive read is written anew, every
// member copied or rewritten with its own content, and what is written
// reads back with the same members and contents.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "zip/zip_archive.h"

namespace {

// A member's whole content, or nothing when it cannot be read (a damaged
// member, or one too large to be worth fuzzing).
bool contentOf(const ZipArchive& archive, const ZipMember& member, std::string* bytes) {
  if (member.size > (1u << 20) ||
      (member.method != kZipStored && member.method != kZipDeflated)) {
    return false;
  }
  bytes->assign(member.size, '\0');
  unsigned char* at = reinterpret_cast<unsigned char*>(&(*bytes)[0]);
  return readMember(archive, member, {{at, bytes->size()}}, true) == MemberReading::Read;
}

FileHandle fileWith(const std::uint8_t* data, std::size_t size) {
  int fd = memfd_create("bundle", 0);
  if (fd >= 0 && size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    fd = -1;
  }
  return fd < 0 ? kNoFile : fd;
}

// Writes the archive anew into `writer`, each member rewritten with its own
// content where it can be read, copied otherwise; `rewritten` tells which.
bool writeAnew(const ZipArchive& archive, ZipWriter* writer, std::vector<std::string>* contents,
               std::vector<bool>* rewritten) {
  for (std::size_t i = 0; i < archive.members.size(); ++i) {
    const ZipMember& member = archive.members[i];
    std::string& bytes = (*contents)[i];
    (*rewritten)[i] = contentOf(archive, member, &bytes);
    unsigned char* at = reinterpret_cast<unsigned char*>(&bytes[0]);
    if (((*rewritten)[i] ? rewriteMember(writer, archive, member, {{at, bytes.size()}})
                         : copyMember(writer, archive, member)) != ZipWrite::Written) {
      return false;
    }
  }
  return finishZip(writer, archive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FileHandle old = fileWith(data, size);
  if (old == kNoFile) return 0;
  ZipArchive archive;
  ZipWriter writer;
  if (readZipArchive(old, static_cast<std::int64_t>(size), &archive) == ZipReading::Read &&
      (writer.file = fileWith(nullptr, 0)) != kNoFile) {
    std::vector<std::string> contents(archive.members.size());
    std::vector<bool> rewritten(archive.members.size());
    ZipArchive again;
    if (writeAnew(archive, &writer, &contents, &rewritten)) {
      check(readZipArchive(writer.file, writer.at, &again) == ZipReading::Read);
      check(again.members.size() == archive.members.size());
      for (std::size_t i = 0; i < again.members.size(); ++i) {
        std::string bytes;
        check(!rewritten[i] || (contentOf(again, again.members[i], &bytes) && bytes == contents[i]));
      }
    }
    closeFile(writer.file);
  }
  closeFile(old);
  return 0;
}
