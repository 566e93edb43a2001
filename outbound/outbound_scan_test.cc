#include "outbound/outbound_scan.h"

#include <gtest/gtest.h>

namespace {

TEST(OutboundScan, PacketNamesEndInAFlavourLetterAndUtInAnyCase) {
  for (const char* name : {"0000ffff.out", "0000FFFF.HUT", "x.cut", "x.Dut", "a.oUT", ".out"}) {
    EXPECT_TRUE(isPacketName(name)) << name;
  }
  for (const char* name : {"x.put", "x.gut", "x.aut", "x.out.bak", "out", ".ut", "x.ou", "x_out",
                           "x.\xC3ut"}) {
    EXPECT_FALSE(isPacketName(name)) << name;
  }
}

}  // namespace
