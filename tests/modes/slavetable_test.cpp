#include "modes/slavetable.h"

#include "protocol/packet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using mkp::TSlaveRow;
using mkp::TSlaveTable;

std::vector<TSlaveRow> Rows(const TSlaveTable& t) { return t.Snapshot()->Rows; }

class TempDir {
public:
  TempDir() {
    char pattern[] = "/tmp/mkp_smt_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(File(name), std::ios::binary);
    out << bytes;
    return File(name);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

private:
  std::string path_;
};

TEST(SlaveTableTest, StartsWithOneEmptyRowAndIgnoresCellsOutside) {
  TSlaveTable t;
  EXPECT_EQ(t.RowCount(), 1);
  EXPECT_EQ(t.Cell(1, 0), "");
  t.SetCell(0, 0, "x");
  t.SetCell(2, 0, "x");
  t.SetCell(1, 2, "x");
  EXPECT_EQ(Rows(t), std::vector<TSlaveRow>(1));
  EXPECT_EQ(t.Cell(5, 1), "");
}

TEST(SlaveTableTest, EditOfLastRowKeepsAnEmptyRowAtTheEnd) {
  TSlaveTable t;
  int changes = 0;
  t.SetOnChange([&] { ++changes; });
  t.SetCell(1, 0, "0");  // typing into the last row adds a row
  EXPECT_EQ(t.RowCount(), 2);
  t.SetCell(1, 0, "01");  // not the last row any more
  EXPECT_EQ(t.RowCount(), 2);
  t.SetCell(2, 1, "");  // the last row stays empty: nothing added
  EXPECT_EQ(t.RowCount(), 2);
  t.SetCell(2, 1, "A");
  EXPECT_EQ(t.RowCount(), 3);
  t.SetCell(1, 0, "");  // clearing an upper row removes nothing
  EXPECT_EQ(t.RowCount(), 3);
  EXPECT_EQ(t.Cell(2, 1), "A");
  EXPECT_EQ(changes, 5);
}

TEST(SlaveTableTest, AddInsertsAnEmptyRowAtTheCurrentRow) {
  TSlaveTable t;
  t.SetRows({{"a", "1"}, {"b", "2"}, {"", ""}});
  t.Add(2);
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"a", "1"}, {"", ""}, {"b", "2"}, {"", ""}}));
  t.Add(1);
  EXPECT_EQ(t.Cell(1, 0), "");
  EXPECT_EQ(t.Cell(2, 0), "a");
  t.Add(t.RowCount());  // at the last row: the empty row moves down
  EXPECT_EQ(t.RowCount(), 6);
  auto before = t.Version();
  t.Add(0);
  t.Add(7);
  EXPECT_EQ(t.Version(), before);
}

TEST(SlaveTableTest, DeleteRemovesTheCurrentRowButNeverTheLastOne) {
  TSlaveTable t;
  t.SetRows({{"a", "1"}, {"b", "2"}, {"c", "3"}});
  t.Delete(2);
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"a", "1"}, {"c", "3"}}));
  t.Delete(2);
  t.Delete(1);
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"", ""}}));
  t.SetCell(1, 0, "x");
  t.Delete(1);  // two rows now ("x" and the empty one); deleting row 1 leaves the empty one
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"", ""}}));
  t.SetRows({{"only", "row"}});
  t.Delete(1);  // the only data row is cleared and kept
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"", ""}}));
  t.Delete(3);
  EXPECT_EQ(t.RowCount(), 1);
}

TEST(SlaveTableTest, SnapshotsStayAsTheyWereAfterEdits) {
  TSlaveTable t;
  t.SetRows({{"a", "1"}});
  auto old = t.Snapshot();
  t.SetCell(1, 0, "b");
  EXPECT_EQ(old->Rows[0].Received, "a");
  EXPECT_NE(old->Version, t.Version());
  t.SetRows({});
  EXPECT_EQ(t.RowCount(), 1);
}

TEST(SlaveTableFileTest, LinesSplitIntoTheTwoCells) {
  // Both parts; only the angle part (column 1 gets the whole line); neither
  // mark (both columns get the whole line); the first closing mark wins.
  auto rows = mkp::ParseSlaveTableText(
      "<0A0B0C> [010203]\r\n"
      "<0A0B0C>\r\n"
      "plain text\r\n"
      "<a>b> [c]d]\r\n"
      " x [y\r\n"
      "<last> [row]");
  EXPECT_EQ(rows, (std::vector<TSlaveRow>{{"0A0B0C", "010203"},
                                          {"0A0B0C", "<0A0B0C>"},
                                          {"plain text", "plain text"},
                                          {"a", "c"},
                                          {" x [y", "y"},
                                          {"last", "row"}}));
}

TEST(SlaveTableFileTest, EmptyLinesAndTheEndOfTheFile) {
  using V = std::vector<TSlaveRow>;
  EXPECT_EQ(mkp::ParseSlaveTableText(""), V(1));
  EXPECT_EQ(mkp::ParseSlaveTableText("\r\n\r\n"), V(1));
  // A last line with a line end: the file ends right after it, no extra row.
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]\r\n"), (V{{"a", "b"}}));
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]"), (V{{"a", "b"}}));
  // Empty lines between entries are skipped; after the last one they leave
  // one empty row.
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]\r\n\r\n\r\n<c> [d]\r\n"), (V{{"a", "b"}, {"c", "d"}}));
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]\r\n\r\n\r\n"), (V{{"a", "b"}, {"", ""}}));
  // A line of blanks is not empty.
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]\r\n  "), (V{{"a", "b"}, {"  ", "  "}}));
  // LF and lone CR line ends read alike.
  EXPECT_EQ(mkp::ParseSlaveTableText("<a> [b]\n<c> [d]\r<e> [f]"),
            (V{{"a", "b"}, {"c", "d"}, {"e", "f"}}));
}

TEST(SlaveTableFileTest, SaveWritesEveryRowWithCrLfAndLoadsBack) {
  TempDir dir;
  TSlaveTable t;
  // Windows-1251 bytes (Cyrillic) and a blank-only cell are kept as they are.
  const std::string cyr = "\xCF\xF0\xE8\xE2\xE5\xF2";
  t.SetRows({{"0A0B0C.010203.04.00.0000 - ", "010203.0A0B0C.01.00.0000"}, {cyr, "  "}, {"", ""}});
  ASSERT_TRUE(mkp::SaveSlaveTable(t, dir.File("t.smt")));
  EXPECT_EQ(dir.Read("t.smt"),
            "<0A0B0C.010203.04.00.0000 - > [010203.0A0B0C.01.00.0000]\r\n<" + cyr +
                "> [  ]\r\n<> []\r\n");
  TSlaveTable back;
  ASSERT_TRUE(mkp::LoadSlaveTable(back, dir.File("t.smt")));
  EXPECT_EQ(Rows(back), Rows(t));

  // Without the empty last row the file still loads back to the same rows.
  t.Delete(3);
  ASSERT_TRUE(mkp::SaveSlaveTable(t, dir.File("u.smt")));
  ASSERT_TRUE(mkp::LoadSlaveTable(back, dir.File("u.smt")));
  EXPECT_EQ(Rows(back), Rows(t));
}

TEST(SlaveTableFileTest, LoadFailuresLeaveTheTableAlone) {
  TempDir dir;
  TSlaveTable t;
  t.SetRows({{"keep", "me"}});
  EXPECT_FALSE(mkp::LoadSlaveTable(t, dir.File("missing.smt")));
  EXPECT_FALSE(mkp::LoadSlaveTable(t, ""));
  EXPECT_FALSE(mkp::LoadSlaveTable(t, dir.File("")));  // the folder itself
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"keep", "me"}}));

  // Bytes the text form never uses (NUL, 0xFF) pass through unchanged.
  const std::string odd = std::string("<\0\xFF> [x]", 8) + "\r\n<0102030A0B0C04000000> []";
  ASSERT_TRUE(mkp::LoadSlaveTable(t, dir.Write("odd.smt", odd)));
  EXPECT_EQ(t.Cell(1, 0), std::string("\0\xFF", 2));

  EXPECT_FALSE(mkp::SaveSlaveTable(t, dir.File("no/such/folder.smt")));
  EXPECT_FALSE(mkp::SaveSlaveTable(t, ""));
}

TEST(SlaveTableFileTest, AFileWithoutARowKeepsTheTable) {
  TempDir dir;
  TSlaveTable t;
  const std::vector<TSlaveRow> good{{"010203.0A0B0C.04.00.0000", "0A0B0C.010203.01.00.0000"}, {"", ""}};
  t.SetRows(good);
  std::string noise;
  std::uint32_t seed = 7;
  for (int i = 0; i < 4096; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise += static_cast<char>(seed >> 23);
  }
  const std::vector<std::pair<std::string, std::string>> useless = {
      {"noise.smt", noise},
      {"empty.smt", ""},
      {"blank.smt", "\r\n\r\n"},
      {"mkpt.ini", "PortNumber=COM1\r\nTransferRate=9600\r\n"},
      {"page.smt", "<html> [body]\r\n<p>text</p>\r\n<b>bold</b> <a>link</a>\r\n"},
      {"short.smt", "<0102030A0B0C0400> [0A0B0C0102030100]\r\n"},  // not even a header
      {"saved_empty.smt", "<> []\r\n"},  // what saving an empty table writes
  };
  for (const auto& [name, content] : useless) {
    const std::string file = dir.Write(name, content);
    const mkp::TLoadResult result = mkp::LoadSlaveTable(t, file);
    EXPECT_FALSE(result) << name;
    EXPECT_TRUE(result.NothingUsable()) << name;
    EXPECT_EQ(result.Message(), file + ": no slave table rows found");
    EXPECT_EQ(Rows(t), good) << name;
    EXPECT_THROW(result.ThrowIfNothingUsable(), mkp::ENothingUsable);
  }

  // One row of packet text among garbage loads the whole file, by the rules.
  // Its packet need not be well-formed yet: a header and a short data part.
  const std::string header = "01 02 03 0a 0b 0c 06 05 0300 - 01";
  const mkp::TLoadResult mixed = mkp::LoadSlaveTable(t, dir.Write("mixed.smt", "junk\r\n<" + header + "> []\r\n"));
  EXPECT_TRUE(mixed);
  EXPECT_EQ(Rows(t), (std::vector<TSlaveRow>{{"junk", "junk"}, {header, ""}}));
  EXPECT_NO_THROW(mixed.ThrowIfNothingUsable());
}

TEST(SlaveTableFileTest, TheExampleDeviceTableIsWellFormed) {
  const std::string file = std::string(MKP_SOURCE_DIR) + "/examples/device.smt";
  std::ifstream in(file, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(bytes.empty());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "line end without CR";
    }
  }
  TSlaveTable t;
  ASSERT_TRUE(mkp::LoadSlaveTable(t, file));
  ASSERT_GE(t.RowCount(), 2);
  EXPECT_EQ(Rows(t).back(), TSlaveRow{});
  for (int row = 1; row < t.RowCount(); ++row) {
    mkp::TPacketHolder request, answer;
    EXPECT_TRUE(mkp::TextToPacket(t.Cell(row, 0), *request)) << row;
    EXPECT_TRUE(mkp::TextToPacket(t.Cell(row, 1), *answer)) << row;
    // Requests go from the master to the device, answers back.
    EXPECT_TRUE(request->DstAddr == answer->SrcAddr && request->SrcAddr == answer->DstAddr) << row;
  }
}

}  // namespace
