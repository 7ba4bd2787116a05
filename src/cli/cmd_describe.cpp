// mkptool describe: the analyser's one-line description of a packet text.
#include <iostream>
#include <string>
#include <vector>

#include "analysis/parser.h"
#include "analysis_options.h"
#include "command.h"
#include "text/controlchars.h"
#include "text/cp1251.h"

#ifdef MKP_HAVE_JSON
#include <nlohmann/json.hpp>
#endif

namespace mkptool {

namespace {

// One JSON object {"line": ..., "results": [...]} in UTF-8.
std::string DescriptionJson(const std::string& line, mkp::TParamList& results) {
#ifdef MKP_HAVE_JSON
  nlohmann::json object;
  object["line"] = mkp::Cp1251ToUtf8(line);
  object["results"] = nlohmann::json::array();
  for (const auto& item : results.Items()) object["results"].push_back(mkp::Cp1251ToUtf8(item.Text));
  return object.dump();
#else
  auto quoted = [](const std::string& cp1251) {
    static const char* const digits = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : mkp::Cp1251ToUtf8(cp1251)) {
      auto c = static_cast<unsigned char>(ch);
      if (c == '"' || c == '\\') {
        out += '\\';
        out += ch;
      } else if (c < 0x20) {
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 15];
      } else {
        out += ch;
      }
    }
    return out + "\"";
  };
  std::string out = "{\"line\": " + quoted(line) + ", \"results\": [";
  bool first = true;
  for (const auto& item : results.Items()) {
    if (!first) out += ", ";
    out += quoted(item.Text);
    first = false;
  }
  return out + "]}";
#endif
}

int RunDescribe(const std::vector<std::string>& arguments) {
  TAnalysisOptions options;
  bool json = false;
  TOptionTable optionTable;
  AddAnalysisOptions(optionTable, options);
  optionTable.push_back(Flag("--json", json));
  std::vector<std::string> words;
  if (!ReadOptions("describe", arguments, optionTable, words)) return 2;
  // The packet text may come as several words (its groups unquoted).
  std::vector<std::string> inputs;
  if (!words.empty()) {
    std::string text;
    for (const auto& w : words) {
      if (!text.empty()) text += ' ';
      text += w;
    }
    inputs.push_back(text);
  }

  mkp::TMKPParser parser;
  options.ApplyTo(parser);
  return RunBatch(inputs, [&](const std::string& text) {
    std::string line = parser.DescribePacket(text);
    if (!json) return mkp::ShowControlChars(line);
    // RunBatch prints engine text; the JSON is UTF-8 made from engine text,
    // so it goes back losslessly.
    return mkp::Utf8ToCp1251(DescriptionJson(line, parser.Results));
  });
}

const TCommandRegistrar registrar({
    "describe",
    "describe a packet text as the decode pane shows it",
    "Usage: mkptool describe [--hex CODE]... [--align] [--json] [TEXT]\n"
    "\n"
    "Prints the analyser's one-line description of a packet given in its text\n"
    "form (\"010203.0A0B0C.07.05.0300 - 05 34 12 \") or the Master page's raw form\n"
    "(header, \" - \", data). Only hex digit pairs count: \".\", \"-\", \":\", \",\"\n"
    "and blanks are dropped. The line is printed exactly, trailing blank\n"
    "included. Without TEXT, every line of standard input is described.\n"
    "\n"
    "Options:\n" +
        std::string(AnalysisOptionsHelp) +
        "  --json       print each description as one JSON object\n"
        "               {\"line\": \"...\", \"results\": [\"...\", ...]} holding the line\n"
        "               and the decoded value texts in order\n",
    RunDescribe,
});

}  // namespace

}  // namespace mkptool
