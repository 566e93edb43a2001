// Any bytes as an argument vector (split at NUL bytes; the first eight bytes
// give the from-address and one address to look up). Every argument read
// becomes exactly one entry, each entry selects its own address, and the
// list's answer for the looked-up address agrees with a plain reference
// matcher.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "address/destination_list.h"
#include "fuzz/fuzz_check.h"

namespace {

std::int16_t fieldAt(const std::uint8_t* data, int i) {
  return static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

bool referenceMatch(const DestinationEntry& e, const NodeAddress& a) {
  switch (e.wild) {
    case WildZone: return true;
    case WildNet: return e.address.zone == a.zone;
    case WildNode: return e.address.zone == a.zone && e.address.net == a.net;
    case WildPoint:
      return e.address.zone == a.zone && e.address.net == a.net && e.address.node == a.node;
    case WildNone:
      return e.address.zone == a.zone && e.address.net == a.net && e.address.node == a.node &&
             (e.address.point == 0 || e.address.point == a.point);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  NodeAddress from{fieldAt(data, 0), fieldAt(data, 1), fieldAt(data, 2), fieldAt(data, 3)};
  NodeAddress probe{fieldAt(data, 4), fieldAt(data, 5), fieldAt(data, 6), fieldAt(data, 7)};
  std::vector<std::string> arguments(1);
  for (std::size_t i = 16; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back().push_back(static_cast<char>(data[i]));
    }
  }
  if (arguments.size() > 64) return 0;
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());

  DestinationList list;
  const int read = parseDestinationList(&list, from, static_cast<int>(argv.size()), argv.data());
  check(read >= 0 && static_cast<std::size_t>(read) <= arguments.size());
  check(list.entries.size() == static_cast<std::size_t>(read));
  bool anyMatch = false;
  for (const DestinationEntry& entry : list.entries) {
    check(entry.wild >= WildNone && entry.wild <= WildZone);
    check(destinationListMatches(list, entry.address));
    anyMatch = anyMatch || referenceMatch(entry, probe);
  }
  check(destinationListMatches(list, probe) == anyMatch);
  return 0;
}
