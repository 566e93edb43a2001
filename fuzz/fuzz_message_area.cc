// Any bytes as a message area, with old and new origins taken from the first
// eight bytes. Checks the rewrite against a plain reference walk: the same
// verdict, the same count, and no byte changed but the origin words of the
// qualifying messages; a failed walk changes nothing; a second rewrite with
// the same origins changes nothing more.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

namespace {

struct Reference {
  bool ok = false;
  std::vector<std::size_t> qualifying;  // message starts
};

std::uint16_t wordAt(const std::vector<unsigned char>& a, std::size_t at) {
  return static_cast<std::uint16_t>(a[at] | (a[at + 1] << 8));
}

// Reads bytes past the end as zeros, as the real walk's pad does.
std::size_t afterString(const std::vector<unsigned char>& a, std::size_t from) {
  std::size_t i = from;
  while (i < a.size() && a[i] != 0) ++i;
  return i + 1;
}

bool startsWithAreaLine(const std::vector<unsigned char>& a, std::size_t t) {
  static const char kArea[] = "area:";
  for (std::size_t k = 0; k < 5; ++k) {
    unsigned char c = a[t + k];
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(kArea[k])) return false;
  }
  return true;
}

Reference referenceWalk(const std::vector<unsigned char>& a, std::uint16_t net,
                       std::uint16_t node) {
  Reference r;
  const std::size_t e = a.size();
  std::size_t p = 0;
  for (;;) {
    if (e - p <= 34) {
      r.ok = true;
      return r;
    }
    if (wordAt(a, p) != 2) return r;
    std::size_t t = p + 14;
    for (int k = 0; k < 4; ++k) t = afterString(a, t);
    if (t + 3 > e) return r;
    if (wordAt(a, p + 2) == node && wordAt(a, p + 6) == net && t + 7 <= e &&
        startsWithAreaLine(a, t)) {
      r.qualifying.push_back(p);
    }
    std::size_t q = afterString(a, t);
    if (q + 2 > e) return r;
    if (a[q] == 0 && a[q + 1] == 0) {
      r.ok = q + 2 == e;
      return r;
    }
    p = q;
  }
}

void check(bool condition) {
  if (!condition) std::abort();
}

std::vector<unsigned char> rewrite(const std::vector<unsigned char>& input, NodeAddress oldOrigin,
                                   NodeAddress newOrigin, MessageWalk* walk) {
  MessageArea area = allocateMessageArea(input.size());
  if (!input.empty()) std::memcpy(area.bytes.get(), input.data(), input.size());
  *walk = rewriteMessageArea(&area, oldOrigin, newOrigin);
  return std::vector<unsigned char>(area.bytes.get(), area.bytes.get() + area.length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  auto field = [data](int i) {
    return static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  NodeAddress oldOrigin{1, field(0), field(1), 0};
  NodeAddress newOrigin{2, field(2), field(3), 7};
  std::vector<unsigned char> input(data + 8, data + size);

  MessageWalk walk;
  std::vector<unsigned char> output = rewrite(input, oldOrigin, newOrigin, &walk);
  Reference expected = referenceWalk(input, static_cast<std::uint16_t>(oldOrigin.net),
                                     static_cast<std::uint16_t>(oldOrigin.node));
  check(walk.ok == expected.ok);
  if (!walk.ok) {
    check(output == input);
    return 0;
  }
  check(static_cast<std::size_t>(walk.changedCount) == expected.qualifying.size());
  std::vector<unsigned char> predicted = input;
  for (std::size_t start : expected.qualifying) {
    writeWord(predicted.data() + start + 2, static_cast<std::uint16_t>(newOrigin.node));
    writeWord(predicted.data() + start + 6, static_cast<std::uint16_t>(newOrigin.net));
  }
  check(output == predicted);

  MessageWalk again;
  std::vector<unsigned char> twice = rewrite(output, oldOrigin, newOrigin, &again);
  check(again.ok);
  check(twice == output);
  bool sameNetNode = oldOrigin.net == newOrigin.net && oldOrigin.node == newOrigin.node;
  if (!sameNetNode) check(again.changedCount == 0);
  return 0;
}
