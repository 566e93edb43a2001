// The floor for a run with -b on bundles: the plainest program doing the
// same zlib work and the same writes. For each bundle named on standard
// input (one path a line) it walks the local records of the ZIP archive,
// inflates every packet member ("*.pkt") whole, and when the packet's
// destination net is the one given, deflates it again and writes the bundle
// anew beside it: every other member copied as it was, a central directory,
// the end record, stored on the device (fsync) and renamed over the old
// one. The content is not changed: only the work is measured. It trusts
// the archive (sizes in the local headers, no data descriptors), as the
// benchmark's generator writes it.
//   bundle_floor NET < bundle paths      prints how many bundles it wrote
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kDestNet = 22;

unsigned little16(const unsigned char* at) { return at[0] | (at[1] << 8); }
unsigned long little32(const unsigned char* at) { return little16(at) | (little16(at + 2) << 16); }
void put16(std::string* out, unsigned value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}
void put32(std::string* out, unsigned long value) {
  put16(out, value & 0xFFFF);
  put16(out, (value >> 16) & 0xFFFF);
}

std::string inflated(const unsigned char* data, std::size_t size, std::size_t expected) {
  std::string out(expected, '\0');
  z_stream stream{};
  inflateInit2(&stream, -MAX_WBITS);
  stream.next_in = const_cast<unsigned char*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = reinterpret_cast<unsigned char*>(&out[0]);
  stream.avail_out = static_cast<uInt>(expected);
  inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  return out;
}

std::string deflated(const std::string& content) {
  std::string out(compressBound(content.size()), '\0');
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  stream.next_in = reinterpret_cast<unsigned char*>(const_cast<char*>(content.data()));
  stream.avail_in = static_cast<uInt>(content.size());
  stream.next_out = reinterpret_cast<unsigned char*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string readAll(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) return bytes;
  bytes.resize(static_cast<std::size_t>(status.st_size));
  if (pread(fd, &bytes[0], bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
  close(fd);
  return bytes;
}

// Rewrites the bundle when a packet in it is for the net; true when it did.
bool rewriteBundle(const std::string& path, unsigned net) {
  const std::string old = readAll(path);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(old.data());
  std::string fresh, central;
  bool changed = false;
  unsigned count = 0;
  for (std::size_t at = 0; at + 30 <= old.size() && little32(bytes + at) == 0x04034b50; ++count) {
    const unsigned method = little16(bytes + at + 8);
    const std::size_t compressed = little32(bytes + at + 18);
    const std::size_t size = little32(bytes + at + 22);
    const std::size_t nameLength = little16(bytes + at + 26);
    const std::size_t headerLength = 30 + nameLength + little16(bytes + at + 28);
    const std::string name = old.substr(at + 30, nameLength);
    std::string header = old.substr(at, headerLength);
    std::string data = old.substr(at + headerLength, compressed);
    if (method == 8 && name.size() > 4 && name.compare(name.size() - 4, 4, ".pkt") == 0) {
      const std::string content = inflated(bytes + at + headerLength, compressed, size);
      if (content.size() > kDestNet + 1 &&
          little16(reinterpret_cast<const unsigned char*>(content.data()) + kDestNet) == net) {
        data = deflated(content);
        changed = true;
      }
    }
    std::string sizes;
    put32(&sizes, data.size());
    header.replace(18, 4, sizes);
    std::string entry = "PK\x01\x02";
    entry += header.substr(4, 2) + header.substr(4, 24);  // made by, then as the local header
    put16(&entry, 0);                                     // extra length
    put16(&entry, 0);                                     // comment length
    put32(&entry, 0);                                     // disk, internal attributes
    put32(&entry, 0);                                     // external attributes
    put32(&entry, fresh.size());
    entry += name;
    fresh += header + data;
    central += entry;
    at += headerLength + compressed;
  }
  if (!changed) return false;
  const std::size_t directoryAt = fresh.size();
  fresh += central;
  fresh += std::string("PK\x05\x06\0\0\0\0", 8);
  put16(&fresh, count);
  put16(&fresh, count);
  put32(&fresh, central.size());
  put32(&fresh, directoryAt);
  put16(&fresh, 0);
  const std::string temporary = path + ".floor";
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  bool written = fd >= 0 && write(fd, fresh.data(), fresh.size()) == static_cast<ssize_t>(fresh.size()) &&
                 fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return written && rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const unsigned net = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
  long written = 0;
  for (std::string path; std::getline(std::cin, path);) {
    if (rewriteBundle(path, net)) ++written;
  }
  std::printf("%ld\n", written);
  return 0;
}
