// mkptool's one option reader: each command lists its options in a table and
// the reader fills them in and hands back the positional words.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace mkptool {

struct TOption {
  std::string Name;         // "--port"
  bool TakesValue = true;   // "--name VALUE" or "--name=VALUE"; else a flag "--name"
  // Takes the value (empty for a flag); false with the reason in error.
  std::function<bool(const std::string& value, std::string& error)> Take;
};
using TOptionTable = std::vector<TOption>;

// A flag option that sets a switch.
TOption Flag(std::string name, bool& value);
// An option whose value is a text that may not be empty ("NAME needs a WHAT").
TOption Text(std::string name, std::string& value, const std::string& what);

// Reads args against the table. Options count where they stand, so a later
// one overrides an earlier one; after "--" every word is positional. Any
// other word of more than two characters that starts with "--" is an unknown
// option; a lone "-" or a word such as "-5" is positional. The positional
// words land in positionals, in order. On a bad option prints
// "mkptool COMMAND: " and the reason to standard error and returns false
// (the command then exits with status 2).
bool ReadOptions(const std::string& command, const std::vector<std::string>& args,
                 const TOptionTable& table, std::vector<std::string>& positionals);

}  // namespace mkptool
