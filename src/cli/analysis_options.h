// The analyser switches shared by every command that describes packets:
// "--hex CODE" (show one named type in hexadecimal, or "all") and "--align"
// ("Array data align").
#pragma once

#include "options.h"

#include <string>
#include <vector>

namespace mkp {
class TMKPParser;
}

namespace mkptool {

struct TAnalysisOptions {
  std::vector<int> HexCodes;  // odd type codes whose show-as-hex switch is on
  bool Align = false;

  void ApplyTo(mkp::TMKPParser& parser) const;
};

// Adds "--hex CODE" and "--align" to a command's option table. CODE is a
// type code in decimal with a hex switch (1, 5, 7, 9, 11, 13, 15, 25, 27, 31,
// 33, 35, 37, 39, or the even code of the same pair) or "all".
void AddAnalysisOptions(TOptionTable& table, TAnalysisOptions& options);

// The option lines for a command's --help text.
extern const char* const AnalysisOptionsHelp;

}  // namespace mkptool
