// Builds packets and message areas byte by byte for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "address/node_address.h"

// The addresses most tests use: packets from kOld to kHub get kNew.
inline constexpr NodeAddress kOld{2, 5020, 100, 0};
inline constexpr NodeAddress kNew{2, 5020, 999, 0};
inline constexpr NodeAddress kHub{2, 5020, 1, 0};

struct TestMessage {
  std::uint16_t type = 2;
  std::uint16_t origNet = 0;
  std::uint16_t origNode = 0;
  std::uint16_t destNet = 0;
  std::uint16_t destNode = 0;
  std::uint16_t attribute = 0x0100;
  std::uint16_t cost = 0;
  std::string dateTime = "05 Mar 26  09:07:02";
  std::string toUserName = "All";
  std::string fromUserName = "Sysop";
  std::string subject = "Subject";
  std::string text;
};

std::string word(std::uint16_t value);

// A header with every kept field filled with recognisable bytes.
std::string packetHeader(const NodeAddress& origin, const NodeAddress& destination);

std::string packedMessage(const TestMessage& message);

// An echomail message in `area` from net/node, with the usual control lines.
TestMessage echomail(const std::string& area, std::uint16_t net, std::uint16_t node,
                     const std::string& body);
TestMessage netmail(std::uint16_t net, std::uint16_t node, const std::string& body);

// The messages followed by the terminating zero word.
std::string messageArea(const std::vector<TestMessage>& messages);

std::string packet(const NodeAddress& origin, const NodeAddress& destination,
                   const std::vector<TestMessage>& messages);

// The packet bytes with the origin words of the header set as a run sets them.
std::string withHeaderOrigin(std::string packetBytes, const NodeAddress& origin);
