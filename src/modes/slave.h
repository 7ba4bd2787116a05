// TSlaveAutoRepeater: the Slave mode responder. A worker thread receives every
// packet on the line and, when it equals the received-packet text of a row of
// the slave table, sends that row's packet to answer, exactly as written.
// Created as TWorker<TSlaveAutoRepeater> (see worker.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "modes/slavetable.h"
#include "modes/worker.h"
#include "protocol/packet.h"

namespace mkp {

class TMKProtocolTransport;

// The matching of the responder loop: the same result as FindSlaveRow (the
// first row whose received-packet text reads as an equal packet), with each
// row's text parsed once and parsed again only when the text of that row
// changes, so a large table costs little per packet.
class TSlaveRowMatcher {
public:
  int Find(const std::shared_ptr<const TSlaveTableSnapshot>& rows, const TMKPPacket& packet);

private:
  struct TParsedRow {
    std::string Text;
    bool WellFormed = false;
    TMKPPacket Packet;  // data block of DataLen bytes only
  };
  void Refresh(const TSlaveTableSnapshot& rows);

  std::shared_ptr<const TSlaveTableSnapshot> snapshot_;
  std::vector<TParsedRow> parsed_;
};

class TSlaveAutoRepeater : public TWorkerThread {
public:
  // Pause after the matching packet before the answer goes out.
  static constexpr int AnswerDelayMs = 5;
  // Pause at the end of every loop iteration.
  static constexpr int LoopDelayMs = 10;

  TSlaveAutoRepeater() = default;

  // Neither is owned; set both before Start(). A responder without a table
  // answers nothing; one without a transport only idles.
  void SetTransport(TMKProtocolTransport* transport) { transport_ = transport; }
  void SetTables(const TSlaveTable* table) { table_ = table; }

  // The number of the first row whose received-packet text reads as a packet
  // equal to the given one, or -1 (also without a table).
  int FindRow(const TMKPPacket& packet) const;
  // Reads the answer text of the row into the prepared record; false when the
  // row does not exist or its text is not well-formed packet text.
  bool BuildAnswer(int row, TMKPPacket& packet) const;

  // Lines reported in the terminal pane when an iteration fails unexpectedly.
  static std::string ErrorLine(const std::string& what);

protected:
  void Execute() override;

private:
  // One iteration: receive, match, answer.
  void Respond();

  TMKProtocolTransport* transport_ = nullptr;
  const TSlaveTable* table_ = nullptr;
  TSlaveRowMatcher matcher_;  // used by the worker thread only
};

// FindRow and BuildAnswer on a given snapshot of the rows (rows from 1).
int FindSlaveRow(const TSlaveTableSnapshot& rows, const TMKPPacket& packet);
bool BuildSlaveAnswer(const TSlaveTableSnapshot& rows, int row, TMKPPacket& packet);

}  // namespace mkp
