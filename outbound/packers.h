// The sysop's packers: the Unpack and Pack lines of Pelorin.Cfg, which
// tell an archive format by bytes at an offset of the file, and give the
// commands that unpack a bundle of it and pack one anew.
//
//   Unpack <name> <offset> <signature> <command words...>
//   Pack <name> <command words...>
//   PackerTimeLimit <seconds>
//
// The signature is hexadecimal bytes, "??" for any byte. In a command's
// words "$a" stands for the archive and "$p" for the private directory the
// command runs in, both absolute, anywhere in a word; "$f", a word of its
// own, for the files to pack, one word each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/run_command.h"

struct Packer {
  std::string name;
  std::int64_t offset = 0;
  std::vector<int> signature;       // each byte, or -1 for any
  std::vector<std::string> unpack;  // empty without an Unpack line
  std::vector<std::string> pack;    // empty without a Pack line
};

struct Packers {
  std::vector<Packer> packers;  // in the order of their first Unpack line
  unsigned timeLimitSeconds = 300;
};

enum class PackerStatement { NotOne, Read, Incomplete };

// Takes the words of a configuration line, when they are one of the three
// statements: a later line for the same name replaces what an earlier one
// set. Incomplete: a word is missing or does not read (an offset that is no
// number, a signature that is no hexadecimal bytes, a time limit that is no
// number of seconds from 1 to 86400); nothing is taken then.
PackerStatement readPackerStatement(const std::vector<std::string>& words, Packers* packers);

// The first packer, in the order of the Unpack lines, whose signature the
// open file's bytes match; null for none, and when the file cannot be read.
const Packer* packerOf(const Packers& packers, FileHandle file);

// The words of a command with "$a", "$p" and "$f" given.
std::vector<std::string> commandWords(const std::vector<std::string>& words,
                                      const std::string& archive, const std::string& directory,
                                      const std::vector<std::string>& files);

// Why the command failed, in a line: its last line of output and its exit
// status, "cannot start <program>: <the system's words>", or "ended after
// <n> s". Empty when it exited with status 0.
std::string commandFailure(const CommandResult& result, unsigned timeLimitSeconds);
