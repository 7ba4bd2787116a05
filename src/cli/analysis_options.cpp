#include "analysis_options.h"

#include "analysis/parser.h"

namespace mkptool {

const char* const AnalysisOptionsHelp =
    "  --hex CODE   show values of one type in hexadecimal; CODE is its type code\n"
    "               in decimal (1, 5, 7, 9, 11, 13, 15, 25, 27, 31, 33, 35, 37, 39)\n"
    "               or \"all\"; may be given several times\n"
    "  --align      pad every decoded value to the fixed width of its type\n"
    "               (\"Array data align\")\n";

void TAnalysisOptions::ApplyTo(mkp::TMKPParser& parser) const {
  parser.ArrayAlign = Align;
  for (int code : HexCodes) parser.HexFlagForType(code) = true;
}

namespace {

bool AddHexCode(const std::string& text, TAnalysisOptions& options, std::string& error) {
  if (text == "all" || text == "ALL") {
    for (int code : mkp::TMKPParser::HexTypeCodes) options.HexCodes.push_back(code);
    return true;
  }
  int code = -1;
  if (!text.empty() && text.size() <= 3 &&
      text.find_first_not_of("0123456789") == std::string::npos)
    code = std::stoi(text);
  int index = code < 0 ? -1 : mkp::TMKPParser::HexFlagIndex(code);
  if (index < 0) {
    error = "--hex: '" + text + "' is not a type code with a hex form (1, 5, 7, 9, 11, 13, 15, "
            "25, 27, 31, 33, 35, 37, 39 or all)";
    return false;
  }
  options.HexCodes.push_back(mkp::TMKPParser::HexTypeCodes[static_cast<std::size_t>(index)]);
  return true;
}

}  // namespace

void AddAnalysisOptions(TOptionTable& table, TAnalysisOptions& options) {
  table.push_back(Flag("--align", options.Align));
  table.push_back({"--hex", true, [&options](const std::string& code, std::string& error) {
                     return AddHexCode(code, options, error);
                   }});
}

}  // namespace mkptool
