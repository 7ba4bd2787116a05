#include "modes/slavetable.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "protocol/packet.h"
#include "text/textcut.h"

namespace mkp {

namespace {

std::shared_ptr<const TSlaveTableSnapshot> MakeSnapshot(std::vector<TSlaveRow> rows,
                                                        std::uint64_t version) {
  auto snapshot = std::make_shared<TSlaveTableSnapshot>();
  snapshot->Rows = std::move(rows);
  if (snapshot->Rows.empty()) snapshot->Rows.emplace_back();
  snapshot->Version = version;
  return snapshot;
}

bool ValidRow(const std::vector<TSlaveRow>& rows, int row) {
  return row >= 1 && static_cast<std::size_t>(row) <= rows.size();
}

// True when nothing follows the line end that finishes at `lineEnd`.
bool AtEndAfter(const std::string& text, std::size_t lineEnd) { return lineEnd >= text.size(); }

}  // namespace

// ---- TSlaveTable -------------------------------------------------------------

TSlaveTable::TSlaveTable() : rows_(MakeSnapshot({}, 0)) {}

int TSlaveTable::RowCount() const { return static_cast<int>(Snapshot()->Rows.size()); }

std::string TSlaveTable::Cell(int row, int column) const {
  auto snapshot = Snapshot();
  if (!ValidRow(snapshot->Rows, row)) return {};
  const TSlaveRow& r = snapshot->Rows[static_cast<std::size_t>(row - 1)];
  if (column == ReceivedColumn) return r.Received;
  if (column == AnswerColumn) return r.Answer;
  return {};
}

void TSlaveTable::SetCell(int row, int column, std::string text) {
  if (column != ReceivedColumn && column != AnswerColumn) return;
  Change([&](std::vector<TSlaveRow>& rows) {
    if (!ValidRow(rows, row)) return false;
    TSlaveRow& r = rows[static_cast<std::size_t>(row - 1)];
    (column == ReceivedColumn ? r.Received : r.Answer) = std::move(text);
    if (static_cast<std::size_t>(row) == rows.size() && (!r.Received.empty() || !r.Answer.empty()))
      rows.emplace_back();
    return true;
  });
}

void TSlaveTable::Add(int currentRow) {
  Change([&](std::vector<TSlaveRow>& rows) {
    if (!ValidRow(rows, currentRow)) return false;
    rows.insert(rows.begin() + (currentRow - 1), TSlaveRow{});
    return true;
  });
}

void TSlaveTable::Delete(int currentRow) {
  Change([&](std::vector<TSlaveRow>& rows) {
    if (!ValidRow(rows, currentRow)) return false;
    if (rows.size() == 1)
      rows[0] = TSlaveRow{};
    else
      rows.erase(rows.begin() + (currentRow - 1));
    return true;
  });
}

void TSlaveTable::SetRows(std::vector<TSlaveRow> rows) {
  Change([&](std::vector<TSlaveRow>& current) {
    current = std::move(rows);
    if (current.empty()) current.emplace_back();
    return true;
  });
}

void TSlaveTable::Clear() { SetRows({}); }

std::shared_ptr<const TSlaveTableSnapshot> TSlaveTable::Snapshot() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::uint64_t TSlaveTable::Version() const { return Snapshot()->Version; }

void TSlaveTable::SetOnChange(std::function<void()> onChange) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(onChange);
}

void TSlaveTable::Change(const std::function<bool(std::vector<TSlaveRow>&)>& edit) {
  std::function<void()> onChange;
  {
    std::lock_guard lock(mutex_);
    std::vector<TSlaveRow> rows = rows_->Rows;
    if (!edit(rows)) return;
    rows_ = MakeSnapshot(std::move(rows), rows_->Version + 1);
    onChange = onChange_;
  }
  if (onChange) onChange();
}

// ---- .smt files ----------------------------------------------------------------

std::vector<TSlaveRow> ParseSlaveTableText(const std::string& text) {
  // The table starts as one empty row. Every non-empty line fills the current
  // row; a line after which the file goes on adds a row first, so text after
  // the last entry (empty lines included) leaves an empty row at the end.
  std::vector<TSlaveRow> rows(1);
  std::size_t current = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    std::size_t next;
    if (end == std::string::npos) {
      end = text.size();
      next = end;
    } else {
      next = end + 1;
      if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    }
    std::string line = text.substr(start, end - start);
    start = next;
    if (line.empty()) continue;
    if (!AtEndAfter(text, next)) rows.emplace_back();
    if (current >= rows.size()) rows.resize(current + 1);
    rows[current].Received = TextBetween(line, "<", ">");
    rows[current].Answer = TextBetween(line, "[", "]");
    ++current;
  }
  return rows;
}

std::string SlaveTableText(const std::vector<TSlaveRow>& rows) {
  std::string text;
  for (const TSlaveRow& row : rows) {
    text += '<';
    text += row.Received;
    text += "> [";
    text += row.Answer;
    text += "]\r\n";
  }
  return text;
}

TLoadResult LoadSlaveTable(TSlaveTable& table, const std::string& fileName) {
  std::error_code ec;
  if (fileName.empty() || !std::filesystem::exists(fileName, ec)) return false;
  // A folder or a file we may not read is refused before the table is touched.
  if (std::filesystem::is_directory(fileName, ec)) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bool ok = !in.bad();
  if (!ok) {
    // Keep the complete lines read before the error.
    std::size_t lastEnd = text.find_last_of("\r\n");
    text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  std::vector<TSlaveRow> rows = ParseSlaveTableText(text);
  const bool usable = std::any_of(rows.begin(), rows.end(),
                                  [](const TSlaveRow& row) { return LooksLikePacketText(row.Received); });
  if (ok && !usable) return TLoadResult::Nothing(fileName, NoSlaveRows);
  table.SetRows(std::move(rows));
  return ok;
}

bool SaveSlaveTable(const TSlaveTable& table, const std::string& fileName) {
  if (fileName.empty()) return false;
  std::string text = SlaveTableText(table.Snapshot()->Rows);
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

}  // namespace mkp
