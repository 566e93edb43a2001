#include "address/destination_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const NodeAddress kFrom{2, 335, 100, 0};

std::string describe(const DestinationEntry& entry) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, NODE_ADDRESS_FORMAT " wild %d",
                NODE_ADDRESS_ARGS(entry.address), static_cast<int>(entry.wild));
  return buffer;
}

std::vector<std::string> parsedList(const std::vector<const char*>& arguments) {
  DestinationList list;
  parseDestinationList(&list, kFrom, static_cast<int>(arguments.size()), arguments.data());
  std::vector<std::string> described;
  for (const DestinationEntry& entry : list.entries) described.push_back(describe(entry));
  return described;
}

std::string single(const char* argument) { return parsedList({argument}).at(0); }

bool listSelects(const std::vector<const char*>& arguments, NodeAddress address) {
  DestinationList list;
  parseDestinationList(&list, kFrom, static_cast<int>(arguments.size()), arguments.data());
  return destinationListMatches(list, address);
}

TEST(DestinationList, WorldOpensEverything) {
  EXPECT_EQ(single("World"), "0:0/0.0 wild 4");
  EXPECT_EQ(single("wORLD@fidonet"), "0:0/0.0 wild 4");
}

TEST(DestinationList, ZoneEntries) {
  EXPECT_EQ(single("2:All"), "2:0/0.0 wild 3");
  EXPECT_EQ(single("2:"), "2:0/0.0 wild 3");
}

TEST(DestinationList, NetEntries) {
  EXPECT_EQ(single("2:335"), "2:335/0.0 wild 2");
  EXPECT_EQ(single("2:335/"), "2:335/0.0 wild 2");
  EXPECT_EQ(single("2:335/All"), "2:335/0.0 wild 2");
  EXPECT_EQ(single("2:335/All@fidonet"), "2:335/0.0 wild 2");
  EXPECT_EQ(single("All"), "2:335/0.0 wild 2");
  EXPECT_EQ(single("aLL"), "2:335/0.0 wild 2");
  EXPECT_EQ(single(""), "2:335/0.0 wild 2");
  EXPECT_EQ(single("332/All"), "2:332/0.0 wild 2");
  EXPECT_EQ(single("332/"), "2:332/0.0 wild 2");
}

TEST(DestinationList, NodeAndPointEntries) {
  EXPECT_EQ(single("2:335/500"), "2:335/500.0 wild 0");
  EXPECT_EQ(single("2:335/500.All"), "2:335/500.0 wild 1");
  EXPECT_EQ(single("2:335/500."), "2:335/500.0 wild 1");
  EXPECT_EQ(single("2:335/500.3"), "2:335/500.3 wild 0");
  EXPECT_EQ(single("600"), "2:335/600.0 wild 0");
  EXPECT_EQ(single(".4"), "2:335/100.4 wild 0");
  EXPECT_EQ(single(".All"), "2:335/100.0 wild 1");
  EXPECT_EQ(single("."), "2:335/100.0 wild 1");
  EXPECT_EQ(single("600.7"), "2:335/600.7 wild 0");
}

TEST(DestinationList, WhatReadsOnlyInPartIsNoDestination) {
  for (const char* argument :
       {"2:abc/5", "2:/5", "2:335/100/7", "2:335.5", "*", "2:5020/*", "Allnodes", "2:335/allnodes",
        "-5", "All:5", ":5", "2:All/5", "2:335/500.3xyz", "2:335/500.All.3", "2:70000/1",
        "2:335/65536", "2:335/500 ", "2:335/500@", "600.7.1"}) {
    DestinationList list;
    const char* arguments[] = {"2:5020/1", argument, "600"};
    EXPECT_EQ(parseDestinationList(&list, kFrom, 3, arguments), 1) << argument;
    EXPECT_EQ(list.entries.size(), 1u) << argument;
  }
}

TEST(DestinationList, PartialEntriesInheritFromTheEntryBefore) {
  EXPECT_EQ(parsedList({"2:335/500", "600", ".1", "332/7", "8"}),
            (std::vector<std::string>{"2:335/500.0 wild 0", "2:335/600.0 wild 0",
                                      "2:335/600.1 wild 0", "2:332/7.0 wild 0",
                                      "2:332/8.0 wild 0"}));
}

TEST(DestinationList, OpenFieldsPassOnAsZero) {
  EXPECT_EQ(parsedList({"2:335/All", ".4"}).at(1), "2:335/0.4 wild 0");
  EXPECT_EQ(parsedList({"World", "600"}).at(1), "0:0/600.0 wild 0");
  EXPECT_EQ(parsedList({"3:All", "7/1"}).at(1), "3:7/1.0 wild 0");
}

TEST(DestinationList, EmptyListMatchesNothing) {
  DestinationList list;
  parseDestinationList(&list, kFrom, 0, nullptr);
  EXPECT_TRUE(list.entries.empty());
  EXPECT_FALSE(destinationListMatches(list, kFrom));
}

TEST(DestinationList, MatchingFollowsTheOpenFields) {
  EXPECT_TRUE(listSelects({"World"}, {-7, 1, 2, 3}));
  EXPECT_TRUE(listSelects({"2:All"}, {2, 9, 9, 9}));
  EXPECT_FALSE(listSelects({"2:All"}, {3, 9, 9, 9}));
  EXPECT_TRUE(listSelects({"2:335"}, {2, 335, 9, 9}));
  EXPECT_FALSE(listSelects({"2:335"}, {2, 336, 9, 0}));
  EXPECT_TRUE(listSelects({"2:335/500.All"}, {2, 335, 500, 7}));
  EXPECT_FALSE(listSelects({"2:335/500.All"}, {2, 335, 501, 0}));
}

TEST(DestinationList, NodeEntryWithPointZeroMatchesEveryPoint) {
  EXPECT_TRUE(listSelects({"2:335/500"}, {2, 335, 500, 0}));
  EXPECT_TRUE(listSelects({"2:335/500"}, {2, 335, 500, 7}));
  EXPECT_TRUE(listSelects({"2:335/500.0"}, {2, 335, 500, 7}));
  EXPECT_TRUE(listSelects({"2:335/500.3"}, {2, 335, 500, 3}));
  EXPECT_FALSE(listSelects({"2:335/500.3"}, {2, 335, 500, 7}));
  EXPECT_FALSE(listSelects({"2:335/500.3"}, {2, 335, 500, 0}));
}

TEST(DestinationList, AnyMatchingEntrySelects) {
  EXPECT_TRUE(listSelects({"1:1/1", "2:335/500", "9:9/9"}, {2, 335, 500, 0}));
  EXPECT_FALSE(listSelects({"1:1/1", "2:335/501", "9:9/9"}, {2, 335, 500, 0}));
}

TEST(DestinationList, EachEntryReadsBackInRouteSyntax) {
  const std::pair<std::vector<const char*>, std::vector<std::string>> cases[] = {
      {{"World", "wORLD"}, {"World", "World"}},
      {{"2:All", "2:"}, {"2:All", "2:All"}},
      {{"2:335", "2:335/", "2:335/All", "All", ""},
       {"2:335/All", "2:335/All", "2:335/All", "2:335/All", "2:335/All"}},
      {{"332/All", "332/"}, {"2:332/All", "2:332/All"}},
      {{"2:335/500", "2:335/500.0", "2:335/500.All", "2:335/500.", "2:335/500.3"},
       {"2:335/500.All", "2:335/500.All", "2:335/500.All", "2:335/500.All", "2:335/500.3"}},
      {{"600", ".4", ".All", "."},
       {"2:335/600.All", "2:335/600.4", "2:335/600.All", "2:335/600.All"}},
      // Numbers past 32767 are written signed.
      {{"2:65535/65535.1", "65535:1/2.40000"}, {"2:-1/-1.1", "-1:1/2.-25536"}},
      // After World every inherited field is 0.
      {{"World", "5", ".3", "7/1"}, {"World", "0:0/5.All", "0:0/5.3", "0:7/1.All"}},
  };
  for (const auto& [arguments, selections] : cases) {
    DestinationList list;
    parseDestinationList(&list, kFrom, static_cast<int>(arguments.size()), arguments.data());
    std::vector<std::string> read;
    for (const DestinationEntry& entry : list.entries) read.push_back(destinationSelection(entry));
    EXPECT_EQ(read, selections) << arguments.front();
  }
}

}  // namespace
