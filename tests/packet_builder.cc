#include "packet_builder.h"

std::string word(std::uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string packetHeader(const NodeAddress& origin, const NodeAddress& destination) {
  auto w = [](std::int16_t v) { return word(static_cast<std::uint16_t>(v)); };
  std::string h;
  h += w(origin.node) + w(destination.node);
  h += word(2026) + word(2) + word(5) + word(9) + word(7) + word(2) + word(9600) + word(2);
  h += w(origin.net) + w(destination.net);
  h += "\xFE\x01";
  h += std::string("PASS\0\0\0\x7F", 8);
  h += w(static_cast<std::int16_t>(origin.zone + 100)) + w(destination.zone);  // stale type-2 copies
  h += w(static_cast<std::int16_t>(origin.net + 1000));
  h += word(0x0100) + "\x12\x34" + word(0x0001);
  h += w(origin.zone) + w(destination.zone) + w(origin.point) + w(destination.point);
  h += "\xDE\xAD\xBE\xEF";
  return h;
}

std::string packedMessage(const TestMessage& m) {
  std::string bytes = word(m.type) + word(m.origNode) + word(m.destNode) + word(m.origNet) +
                      word(m.destNet) + word(m.attribute) + word(m.cost);
  for (const std::string* text : {&m.dateTime, &m.toUserName, &m.fromUserName, &m.subject,
                                  &m.text}) {
    bytes += *text;
    bytes += '\0';
  }
  return bytes;
}

TestMessage echomail(const std::string& area, std::uint16_t net, std::uint16_t node,
                     const std::string& body) {
  TestMessage m;
  m.origNet = net;
  m.origNode = node;
  m.text = "AREA:" + area + "\r\x01MSGID: 2:" + std::to_string(net) + "/" +
           std::to_string(node) + " 1a2b3c4d\r" + body + "\r--- \r * Origin: A node (2:" +
           std::to_string(net) + "/" + std::to_string(node) + ")\rSEEN-BY: " +
           std::to_string(net) + "/" + std::to_string(node) + "\r\x01PATH: " +
           std::to_string(net) + "/" + std::to_string(node) + "\r";
  return m;
}

TestMessage netmail(std::uint16_t net, std::uint16_t node, const std::string& body) {
  TestMessage m;
  m.origNet = net;
  m.origNode = node;
  m.toUserName = "Sysop";
  m.text = "\x01INTL 2:5020/1 2:" + std::to_string(net) + "/" + std::to_string(node) + "\r" +
           body + "\r";
  return m;
}

std::string messageArea(const std::vector<TestMessage>& messages) {
  std::string area;
  for (const TestMessage& m : messages) area += packedMessage(m);
  return area + std::string(2, '\0');
}

std::string packet(const NodeAddress& origin, const NodeAddress& destination,
                   const std::vector<TestMessage>& messages) {
  return packetHeader(origin, destination) + messageArea(messages);
}

std::string withHeaderOrigin(std::string bytes, const NodeAddress& origin) {
  auto put = [&bytes](std::size_t offset, std::int16_t value) {
    bytes.replace(offset, 2, word(static_cast<std::uint16_t>(value)));
  };
  put(0, origin.node);
  put(20, origin.net);
  put(34, origin.zone);
  put(38, origin.net);
  put(46, origin.zone);
  put(50, origin.point);
  return bytes;
}
