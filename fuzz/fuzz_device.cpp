// Fuzz target: device description lines and write templates filled from the
// registers table, with random text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "modes/address.h"
#include "modes/device.h"
#include "modes/write_packet.h"
#include "modes/registers_table.h"
#include "protocol/packet.h"
#include "text/textcut.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  mkp::TDeviceModel model;
  std::string rest = input;
  while (!rest.empty()) {
    std::string line = mkp::TextBefore(rest, "\n");
    mkp::DropThrough(rest, "\n");
    mkp::CutLineComment(line);
    line = mkp::Trim(line);
    if (!line.empty()) mkp::ApplyDescriptionLine(line, model);
  }
  if (model.Requests.Count() != model.RequestRows.Count() ||
      model.Requests.Count() != model.RequestSaves.Count()) {
    std::abort();
  }

  // Every fuzzed line also serves as a value of a few rows and as a template.
  mkp::TRegistersTable table;
  table.SetRowCount(4);
  table.SetNewValue(1, input.substr(0, 40));
  table.SetCurrentValue(2, input.substr(input.size() / 2));
  table.SetNewValue(3, input);
  mkp::TPacketHolder packet;
  mkp::FillWritePacket(input, *packet, table);
  for (const mkp::TParamItem& item : model.WriteTemplates.Items()) {
    mkp::FillWritePacket(item.Text, *packet, table);
  }
  mkp::TVorelAddr address;
  mkp::ApplyAddressText(mkp::SetAddressText(input), address);
  return 0;
}
