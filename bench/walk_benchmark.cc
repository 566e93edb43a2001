// Throughput of the message-area walk over an in-memory area of realistic
// echomail, with and without messages to change.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "packet/message_rewrite.h"
#include "packet/packet_format.h"

namespace {

std::string echomailMessage(int serial, std::uint16_t node) {
  std::string text = "AREA:NET.SYSOP\r\x01MSGID: 2:5020/100 " + std::to_string(serial) + "\r";
  for (int line = 0; line < 30; ++line) {
    text += "The nodelist segment for net 5020 goes out on Friday, line " +
            std::to_string(line) + "\r";
  }
  text += "--- \r * Origin: Somewhere (2:5020/100)\rSEEN-BY: 5020/1 52 100\r\x01PATH: 5020/100\r";
  std::string m(14, '\0');
  writeWord(reinterpret_cast<unsigned char*>(&m[0]), 2);
  writeWord(reinterpret_cast<unsigned char*>(&m[2]), node);
  writeWord(reinterpret_cast<unsigned char*>(&m[6]), 5020);
  for (const std::string& s :
       {std::string("07 Nov 26  21:10:03"), std::string("All"), std::string("Sysop"),
        std::string("Nodelist")}) {
    m += s;
    m += '\0';
  }
  return m + text + '\0';
}

MessageArea makeArea(std::size_t bytes) {
  std::string area;
  for (int serial = 0; area.size() < bytes; ++serial) area += echomailMessage(serial, 100);
  area += std::string(2, '\0');
  MessageArea buffer = allocateMessageArea(area.size());
  std::memcpy(buffer.bytes.get(), area.data(), area.size());
  return buffer;
}

void rewriteEveryMessage(benchmark::State& state) {
  MessageArea area = makeArea(static_cast<std::size_t>(state.range(0)));
  NodeAddress a{2, 5020, 100, 0}, b{2, 5020, 2000, 0};
  for (auto _ : state) {
    MessageWalk walk = rewriteMessageArea(&area, a, b);
    benchmark::DoNotOptimize(walk);
    std::swap(a, b);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(area.length));
}

void walkWithoutChanges(benchmark::State& state) {
  MessageArea area = makeArea(static_cast<std::size_t>(state.range(0)));
  NodeAddress other{2, 5020, 7, 0}, b{2, 5020, 2000, 0};
  for (auto _ : state) {
    MessageWalk walk = rewriteMessageArea(&area, other, b);
    benchmark::DoNotOptimize(walk);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(area.length));
}

BENCHMARK(rewriteEveryMessage)->Arg(64 << 10)->Arg(16 << 20);
BENCHMARK(walkWithoutChanges)->Arg(64 << 10)->Arg(16 << 20);

}  // namespace

BENCHMARK_MAIN();
