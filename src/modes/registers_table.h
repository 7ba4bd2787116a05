// The registers table of Registers mode as the engine sees it: one header row
// and one data row per register (from 1) with the columns "Register",
// "Current value" and "New value". The automaton writes current values from
// its thread while the window's thread reads and edits the table, so every
// access goes through one lock; the grid that shows the table hears of each
// change through OnChange.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "text/paramlist.h"

namespace mkp {

class TRegistersTable {
public:
  static constexpr int ColName = 0;
  static constexpr int ColCurrent = 1;
  static constexpr int ColNew = 2;
  static constexpr int ColumnCount = 3;

  // Called after a cell or the row count changed: (row, column) of the cell,
  // or (-1, -1) for a change of the whole table. It runs in the thread that
  // made the change, outside the table's lock; a grid hands it on to its own
  // thread.
  using TChangeHandler = std::function<void(int row, int column)>;

  TRegistersTable() = default;
  TRegistersTable(const TRegistersTable&) = delete;
  TRegistersTable& operator=(const TRegistersTable&) = delete;

  void SetOnChange(TChangeHandler handler);

  // Number of data rows.
  int RowCount() const;
  void SetRowCount(int rows);

  // Cell text; row 0 is the header row. A cell outside the table reads as
  // the empty text, and writing one changes nothing.
  std::string Cell(int row, int column) const;
  void SetCell(int row, int column, const std::string& text);

  std::string CurrentValue(int row) const { return Cell(row, ColCurrent); }
  std::string NewValue(int row) const { return Cell(row, ColNew); }
  void SetCurrentValue(int row, const std::string& text) { SetCell(row, ColCurrent, text); }
  void SetNewValue(int row, const std::string& text) { SetCell(row, ColNew, text); }

  // The value a write template uses for a row: the New value, trimmed, or
  // when that is empty the Current value, trimmed. Row 0 gives the header
  // caption.
  std::string ValueText(int row) const;

  // What selecting a device does to the table: values of every data row
  // cleared, one row per item of the names list, each named.
  void LoadNames(const TParamList& names);

  // Current values of every data row, for a printout: (name, current value).
  std::vector<std::pair<std::string, std::string>> Snapshot() const;

private:
  struct TRow {
    std::string Cells[ColumnCount];
  };
  void Notify(int row, int column) const;

  mutable std::mutex lock_;
  std::vector<TRow> rows_;  // data rows 1..n at index 0..n-1
  TChangeHandler onChange_;
};

}  // namespace mkp
