// A packer for the tests, built for the target as the program is: an
// archive is "TPKR", then for each file its name, a line end, its size, a
// line end and its bytes.
//
//   test_packer a <archive> <file>...   packs the files (names as given, "./" dropped)
//   test_packer x <archive>             unpacks into the current directory
//   test_packer lose <archive> <file>...  packs all but the last file
//   test_packer fail ...                says so and exits with status 3
//   test_packer hang ...                waits, without end
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

int pack(const char* archive, char** files, int count) {
  std::ofstream out(archive, std::ios::binary);
  out << "TPKR";
  for (int i = 0; i < count; ++i) {
    std::string name = files[i];
    if (name.compare(0, 2, "./") == 0) name = name.substr(2);
    std::ifstream in(files[i], std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out << name << '\n' << bytes.str().size() << '\n' << bytes.str();
  }
  return out ? 0 : 1;
}

int unpack(const char* archive) {
  std::ifstream in(archive, std::ios::binary);
  char magic[4];
  if (!in.read(magic, 4) || std::string(magic, 4) != "TPKR") {
    std::cout << "test_packer: " << archive << " is no archive of mine\n";
    return 2;
  }
  std::string name, size;
  while (std::getline(in, name) && std::getline(in, size)) {
    std::string bytes(std::stoul(size), '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    std::ofstream(name, std::ios::binary) << bytes;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "a" && argc > 2) return pack(argv[2], argv + 3, argc - 3);
  if (verb == "lose" && argc > 3) return pack(argv[2], argv + 3, argc - 4);
  if (verb == "x" && argc > 2) return unpack(argv[2]);
  if (verb == "hang") {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  std::cout << "Adding files\ntest_packer: disk full\n";
  return 3;
}
