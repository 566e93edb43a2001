// The floor for a rewrite run: the plainest program doing the same I/O.
// Lists the outbound, opens every packet named "*.?ut", reads its header and,
// for each packet whose destination net is the one given: creates its busy
// flag (exclusively, one line), reads the whole message area and writes it
// back whole, writes the header back, closes the packet and removes the
// flag. The bytes written are the bytes read: only the I/O is measured.
//   rewrite_floor OUTBOUND NET      prints how many packets it rewrote
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeader = 58;
constexpr std::size_t kDestNet = 22;

bool isPacketName(const char* name) {
  std::size_t n = std::strlen(name);
  return n >= 4 && name[n - 4] == '.' && name[n - 2] == 'u' && name[n - 1] == 't';
}

// Rewrites one listed packet under its flag; false on any failure.
bool rewrite(int fd, const std::string& path, unsigned char* header,
             std::vector<unsigned char>* area) {
  std::string flag = path.substr(0, path.size() - 3) + "bsy";
  int flagFd = open(flag.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (flagFd < 0) return false;
  char line[32];
  int length = std::snprintf(line, sizeof line, "%d floor\n", static_cast<int>(getpid()));
  bool ok = write(flagFd, line, static_cast<std::size_t>(length)) == length;
  close(flagFd);
  struct stat status;
  ok = ok && fstat(fd, &status) == 0;
  std::size_t size = ok ? static_cast<std::size_t>(status.st_size) - kHeader : 0;
  area->resize(size);
  ok = ok && pread(fd, area->data(), size, kHeader) == static_cast<ssize_t>(size) &&
       pwrite(fd, area->data(), size, kHeader) == static_cast<ssize_t>(size) &&
       pwrite(fd, header, kHeader, 0) == static_cast<ssize_t>(kHeader);
  unlink(flag.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string dir = argv[1];
  const unsigned net = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return 1;
  std::vector<unsigned char> area;
  long rewritten = 0;
  while (const dirent* entry = readdir(listing)) {
    if (!isPacketName(entry->d_name)) continue;
    const std::string path = dir + "/" + entry->d_name;
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) continue;
    unsigned char header[kHeader];
    if (pread(fd, header, kHeader, 0) == static_cast<ssize_t>(kHeader) &&
        static_cast<unsigned>(header[kDestNet] | (header[kDestNet + 1] << 8)) == net &&
        rewrite(fd, path, header, &area)) {
      ++rewritten;
    }
    close(fd);
  }
  closedir(listing);
  std::printf("%ld\n", rewritten);
  return 0;
}
