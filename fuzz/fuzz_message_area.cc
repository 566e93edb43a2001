// Any bytes as a message area, with old and new origins taken from the first
// eight bytes. Checks properties that hold whatever the walk's rules: a
// failed walk changes nothing; a successful one changes nothing but origin
// words (an old node or net become the new one), at most two per message it
// counts; whether the area is well formed does not depend on the origins;
// and a second rewrite with the same origins changes nothing more.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes rewrite(const Bytes& input, NodeAddress oldOrigin, NodeAddress newOrigin, MessageWalk* walk) {
  MessageArea area = allocateMessageArea(input.size());
  if (!input.empty()) std::memcpy(area.bytes.get(), input.data(), input.size());
  *walk = rewriteMessageArea(&area, oldOrigin, newOrigin);
  return Bytes(area.bytes.get(), area.bytes.get() + area.length);
}

// The words that changed, each from the old origin's node or net to the new
// one's; -1 when some changed byte is not part of such a word.
int changedOriginWords(const Bytes& before, const Bytes& after, NodeAddress oldOrigin,
                       NodeAddress newOrigin) {
  auto turned = [&](std::size_t at, std::int16_t from, std::int16_t to) {
    return at + 1 < before.size() && readWord(&before[at]) == static_cast<std::uint16_t>(from) &&
           readWord(&after[at]) == static_cast<std::uint16_t>(to);
  };
  int words = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    // The changed byte is the first of its word, or the second of one whose
    // first byte stayed the same.
    std::size_t at = (i > 0 && before[i - 1] == after[i - 1] &&
                      (turned(i - 1, oldOrigin.node, newOrigin.node) ||
                       turned(i - 1, oldOrigin.net, newOrigin.net)))
                         ? i - 1
                         : i;
    if (!turned(at, oldOrigin.node, newOrigin.node) && !turned(at, oldOrigin.net, newOrigin.net)) {
      return -1;
    }
    ++words;
    i = at + 1;
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  auto field = [data](int i) {
    return static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  NodeAddress oldOrigin{1, field(0), field(1), 0};
  NodeAddress newOrigin{2, field(2), field(3), 7};
  Bytes input(data + 8, data + size);

  MessageWalk walk;
  Bytes output = rewrite(input, oldOrigin, newOrigin, &walk);
  MessageWalk otherOrigins;
  rewrite(input, newOrigin, oldOrigin, &otherOrigins);
  check(walk.ok == otherOrigins.ok);
  if (!walk.ok || walk.changedCount == 0) {
    check(output == input);
    return 0;
  }
  int words = changedOriginWords(input, output, oldOrigin, newOrigin);
  check(words >= 0 && words <= 2 * walk.changedCount);

  MessageWalk again;
  Bytes twice = rewrite(output, oldOrigin, newOrigin, &again);
  check(again.ok);
  bool sameNetNode = oldOrigin.net == newOrigin.net && oldOrigin.node == newOrigin.node;
  if (!sameNetNode) check(twice == output);
  return 0;
}
