#include "options.h"

#include <iostream>

namespace mkptool {

TOption Flag(std::string name, bool& value) {
  return {std::move(name), false, [&value](const std::string&, std::string&) {
            value = true;
            return true;
          }};
}

TOption Text(std::string name, std::string& value, const std::string& what) {
  const std::string missing = name + " needs a " + what;
  return {std::move(name), true, [&value, missing](const std::string& given, std::string& error) {
            if (given.empty()) {
              error = missing;
              return false;
            }
            value = given;
            return true;
          }};
}

namespace {

bool Read(const std::vector<std::string>& args, const TOptionTable& table,
          std::vector<std::string>& positionals, std::string& error) {
  bool onlyPositional = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (onlyPositional || word.size() <= 2 || word.rfind("--", 0) != 0) {
      if (word == "--" && !onlyPositional) {
        onlyPositional = true;
        continue;
      }
      positionals.push_back(word);
      continue;
    }
    const std::size_t eq = word.find('=');
    const std::string name = word.substr(0, eq);
    const TOption* option = nullptr;
    for (const TOption& candidate : table)
      if (candidate.Name == name) option = &candidate;
    if (option == nullptr || (!option->TakesValue && eq != std::string::npos)) {
      error = "unknown option '" + word + "'";
      return false;
    }
    std::string value;
    if (eq != std::string::npos) {
      value = word.substr(eq + 1);
    } else if (option->TakesValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!option->Take(value, error)) return false;
  }
  return true;
}

}  // namespace

bool ReadOptions(const std::string& command, const std::vector<std::string>& args,
                 const TOptionTable& table, std::vector<std::string>& positionals) {
  std::string error;
  if (Read(args, table, positionals, error)) return true;
  std::cerr << "mkptool " << command << ": " << error << "\n";
  return false;
}

}  // namespace mkptool
