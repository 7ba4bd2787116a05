// TSlaveTable: the slave table of Slave mode, rows of a received packet text
// and the packet text to answer it with, and its ".smt" files.
//
// Data rows are numbered from 1 and there is always at least one. Editing a
// cell of the last row so that the row holds text adds an empty row after it,
// so the table normally ends in an empty row. Cell texts are 8-bit
// (Windows-1251) and kept exactly as given.
//
// The table may be edited from one thread while the responder reads it from
// another: every change publishes a new immutable snapshot of the rows, and a
// reader works on the snapshot it took, so an edit takes effect for the next
// packet the responder looks at.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "text/loadresult.h"

namespace mkp {

struct TSlaveRow {
  std::string Received;  // column 0, "Received packet"
  std::string Answer;    // column 1, "Packet to answer"
  bool operator==(const TSlaveRow&) const = default;
};

// An immutable view of the rows at one moment; Rows[0] is data row 1.
struct TSlaveTableSnapshot {
  std::vector<TSlaveRow> Rows;
  std::uint64_t Version = 0;  // changes with every edit of the table
};

class TSlaveTable {
public:
  static constexpr int ReceivedColumn = 0;
  static constexpr int AnswerColumn = 1;

  TSlaveTable();
  TSlaveTable(const TSlaveTable&) = delete;
  TSlaveTable& operator=(const TSlaveTable&) = delete;

  // Number of data rows (at least 1).
  int RowCount() const;
  // The text of a cell; empty for a row or column outside the table.
  std::string Cell(int row, int column) const;
  // The edit of one cell ("SetEditText"): a row or column outside the table is
  // ignored. When the cell lies in the last row and that row then holds text
  // in either cell, an empty row is added at the end.
  void SetCell(int row, int column, std::string text);
  // "Add": inserts an empty row at the current row (the rows from there on
  // move down by one). A current row outside 1..RowCount() does nothing.
  void Add(int currentRow);
  // "Delete": with one data row, clears it; otherwise removes the current row
  // (the rows below move up). A current row outside 1..RowCount() does nothing.
  void Delete(int currentRow);
  // Replaces every row; an empty list leaves one empty data row.
  void SetRows(std::vector<TSlaveRow> rows);
  // One empty data row.
  void Clear();

  std::shared_ptr<const TSlaveTableSnapshot> Snapshot() const;
  std::uint64_t Version() const;

  // Called after every change, in the thread that made it (not under the
  // table's lock), so that a grid can refresh. Set it before sharing the table.
  void SetOnChange(std::function<void()> onChange);

private:
  // Applies the change to a copy of the rows and publishes the copy.
  void Change(const std::function<bool(std::vector<TSlaveRow>&)>& edit);

  mutable std::mutex mutex_;
  std::shared_ptr<const TSlaveTableSnapshot> rows_;
  std::function<void()> onChange_;
};

// Replaces the table by the rows of a ".smt" file: one line per row,
// "<received>" and "[answer]" (the text between the first "<" and the first
// ">" after it, and between the first "[" and the first "]" after it, the whole
// line where a mark is missing). Empty lines are skipped. Fails when the file
// does not exist (the table is then unchanged) or cannot be read (the rows read
// so far are kept). A file in which no row's received packet is packet text
// (hexadecimal digits and separators, a header's worth at least) yields
// nothing usable: the table stays as it was.
TLoadResult LoadSlaveTable(TSlaveTable& table, const std::string& fileName);

// Writes every data row, the empty last row included, as "<received> [answer]"
// lines ending in CR LF. False on any error of creating or writing the file.
bool SaveSlaveTable(const TSlaveTable& table, const std::string& fileName);

// The rows a ".smt" text reads as, by the rules of LoadSlaveTable.
std::vector<TSlaveRow> ParseSlaveTableText(const std::string& text);
// The ".smt" text of the given rows.
std::string SlaveTableText(const std::vector<TSlaveRow>& rows);

}  // namespace mkp
