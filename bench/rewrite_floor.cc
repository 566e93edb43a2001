// The floor for a rewrite run: the plainest program doing the same I/O.
// Lists the outbound, opens every packet named "*.?ut", reads its header and,
// for each packet whose destination net is the one given: creates its busy
// flag (exclusively, one line), looks for the node's other flags (.bsy and
// .csy in both letter cases, the base in lower and in upper case), checks
// that the packet's name still names the file and reads its header again,
// reads the whole message area and writes it back whole, writes the header
// back, closes the packet and removes the flag. The bytes written are the
// bytes read: only the I/O is measured.
//   rewrite_floor OUTBOUND NET      prints how many packets it rewrote
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeader = 58;
constexpr std::size_t kDestNet = 22;

// The names another program may flag the node under: all but our own.
bool otherFlagExists(const std::string& dir, std::string base) {
  std::string upper = base;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  struct stat status;
  for (const std::string& spelled : {base, upper}) {
    for (const char* extension : {".bsy", ".BSY", ".csy", ".CSY"}) {
      if (spelled == base && std::strcmp(extension, ".bsy") == 0) continue;
      if (lstat((dir + "/" + spelled + extension).c_str(), &status) == 0) return true;
    }
  }
  return false;
}

bool isPacketName(const char* name) {
  std::size_t n = std::strlen(name);
  return n >= 4 && name[n - 4] == '.' && name[n - 2] == 'u' && name[n - 1] == 't';
}

// Rewrites one listed packet under its flag; false on any failure.
bool rewrite(int fd, const std::string& dir, const std::string& name, const std::string& line,
             unsigned char* header, std::vector<unsigned char>* area) {
  const std::string path = dir + "/" + name;
  const std::string base = name.substr(0, name.size() - 4);
  std::string flag = dir + "/" + base + ".bsy";
  int flagFd = open(flag.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (flagFd < 0) return false;
  bool ok = write(flagFd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(flagFd);
  struct stat status, named;
  ok = ok && !otherFlagExists(dir, base) && fstat(fd, &status) == 0 &&
       lstat(path.c_str(), &named) == 0 && named.st_ino == status.st_ino &&
       pread(fd, header, kHeader, 0) == static_cast<ssize_t>(kHeader);
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
  const std::string line = std::to_string(getpid()) + " floor 2:5020/2000.0\n";
  long rewritten = 0;
  while (const dirent* entry = readdir(listing)) {
    if (!isPacketName(entry->d_name)) continue;
    const std::string path = dir + "/" + entry->d_name;
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0) continue;
    unsigned char header[kHeader];
    if (pread(fd, header, kHeader, 0) == static_cast<ssize_t>(kHeader) &&
        static_cast<unsigned>(header[kDestNet] | (header[kDestNet + 1] << 8)) == net &&
        rewrite(fd, dir, entry->d_name, line, header, &area)) {
      ++rewritten;
    }
    close(fd);
  }
  closedir(listing);
  std::printf("%ld\n", rewritten);
  return 0;
}
