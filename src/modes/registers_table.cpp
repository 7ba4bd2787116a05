#include "modes/registers_table.h"

#include "text/textcut.h"

namespace mkp {

namespace {
const char* const HeaderCaptions[TRegistersTable::ColumnCount] = {"Register", "Current value",
                                                                  "New value"};
}

void TRegistersTable::SetOnChange(TChangeHandler handler) {
  std::lock_guard guard(lock_);
  onChange_ = std::move(handler);
}

void TRegistersTable::Notify(int row, int column) const {
  TChangeHandler handler;
  {
    std::lock_guard guard(lock_);
    handler = onChange_;
  }
  if (handler) handler(row, column);
}

int TRegistersTable::RowCount() const {
  std::lock_guard guard(lock_);
  return static_cast<int>(rows_.size());
}

void TRegistersTable::SetRowCount(int rows) {
  {
    std::lock_guard guard(lock_);
    rows_.resize(rows < 0 ? 0 : static_cast<std::size_t>(rows));
  }
  Notify(-1, -1);
}

std::string TRegistersTable::Cell(int row, int column) const {
  if (column < 0 || column >= ColumnCount) return {};
  if (row == 0) return HeaderCaptions[column];
  std::lock_guard guard(lock_);
  if (row < 0 || row > static_cast<int>(rows_.size())) return {};
  return rows_[row - 1].Cells[column];
}

void TRegistersTable::SetCell(int row, int column, const std::string& text) {
  if (column < 0 || column >= ColumnCount) return;
  {
    std::lock_guard guard(lock_);
    if (row < 1 || row > static_cast<int>(rows_.size())) return;
    std::string& cell = rows_[row - 1].Cells[column];
    if (cell == text) return;
    cell = text;
  }
  Notify(row, column);
}

std::string TRegistersTable::ValueText(int row) const {
  std::string value = Trim(Cell(row, ColNew));
  if (value.empty()) value = Trim(Cell(row, ColCurrent));
  return value;
}

void TRegistersTable::LoadNames(const TParamList& names) {
  {
    std::lock_guard guard(lock_);
    rows_.assign(static_cast<std::size_t>(names.Count()), TRow{});
    for (int k = 0; k < names.Count(); ++k) {
      if (const TParamItem* item = names.Peek(k)) rows_[k].Cells[ColName] = item->Text;
    }
  }
  Notify(-1, -1);
}

std::vector<std::pair<std::string, std::string>> TRegistersTable::Snapshot() const {
  std::lock_guard guard(lock_);
  std::vector<std::pair<std::string, std::string>> result;
  result.reserve(rows_.size());
  for (const TRow& row : rows_) result.emplace_back(row.Cells[ColName], row.Cells[ColCurrent]);
  return result;
}

}  // namespace mkp
