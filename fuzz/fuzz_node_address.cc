// Any bytes as a from-address. A parsed address, written in the messages'
// form and read again as such, gives the same address; a rejected text
// leaves the target alone; parsing never reads past its input (the
// sanitizer sees the exact-size copy). The reader of the messages' form
// takes the same bytes too, and what it accepts it writes back as read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "address/node_address.h"
#include "fuzz/fuzz_check.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> exact(new char[size ? size : 1]);
  if (size) std::memcpy(exact.get(), data, size);
  const NodeAddress untouched{11, 22, 33, 44};
  NodeAddress address = untouched;
  const std::string_view input(exact.get(), size);
  NodeAddress written;
  if (readNodeAddressText(input, &written)) check(nodeAddressText(written) == input);
  bool parsed = parseNodeAddress(input, &address);
  if (!parsed) {
    check(sameNodeAddress(address, untouched));
    return 0;
  }
  char text[64];
  std::snprintf(text, sizeof text, NODE_ADDRESS_FORMAT, NODE_ADDRESS_ARGS(address));
  NodeAddress reread;
  check(readNodeAddressText(text, &reread));
  check(sameNodeAddress(reread, address));
  return 0;
}
