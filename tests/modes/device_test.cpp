// Device descriptions, write packets, address texts and named events.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "modes/address.h"
#include "modes/device.h"
#include "modes/write_packet.h"
#include "modes/named_event.h"
#include "modes/registers_table.h"
#include "protocol/packet.h"

using namespace mkp;

namespace {

class TTempDir {
public:
  TTempDir() {
    char pattern[] = "/tmp/mkp-device-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TTempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name, const std::string& contents) const {
    const std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }

private:
  std::string path_;
};

std::vector<std::string> Texts(const TParamList& list) {
  std::vector<std::string> texts;
  for (const TParamItem& item : list.Items()) texts.push_back(item.Text);
  return texts;
}

using Strings = std::vector<std::string>;

}  // namespace

TEST(ParseIntegerTest, Forms) {
  EXPECT_EQ(ParseInteger("42"), 42);
  EXPECT_EQ(ParseInteger("-42"), -42);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("  7"), 7);
  EXPECT_EQ(ParseInteger("$1A"), 26);
  EXPECT_EQ(ParseInteger("0x1a"), 26);
  EXPECT_EQ(ParseInteger("0X1A"), 26);
  EXPECT_EQ(ParseInteger("-$10"), -16);
  EXPECT_EQ(ParseInteger("$FFFFFFFF"), -1);
  EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseInteger("-2147483648"), INT32_MIN);
  for (const char* bad : {"", " ", "-", "$", "0x", "7 ", "1A", "2147483648", "$100000000", "1.5",
                          "0A"}) {
    EXPECT_FALSE(ParseInteger(bad).has_value()) << bad;
  }
}

TEST(LoadDeviceDescriptionTest, KindsOfLineInOrder) {
  TTempDir dir;
  const std::string content =
      "// a comment line\r\n"
      "\r\n"
      "   {Temperature} #2#  \r\n"
      "#5# {Pressure}\r\n"
      "<010203.0A0B0C.06.05.0100 - 02> [2, 3;9] (SAVEDATALINES=t.log)\r\n"
      "<010203.0A0B0C.06.01.0100 - 07>\r\n"
      "<010203.0A0B0C.08.05.0300 - 02 %2:05%> #2# {ignored name} [1]\r\n"
      "{Both kinds} #$3# <template of 3>\r\n"
      "<req // cut> [4]\r\n"
      "@@ One Step Delay = 250\r\n"
      "just some text\r\n"
      "#7# no braces\r\n";
  const std::string file = dir.File("dev.rst", content);
  TDeviceModel model;
  ASSERT_TRUE(LoadDeviceDescription(file, model));
  EXPECT_EQ(Texts(model.RegisterNames), (Strings{"", "Temperature", "", "", "Pressure"}));
  EXPECT_EQ(model.RegisterNames.Peek(1)->Code, 2);
  EXPECT_EQ(model.RegisterNames.Peek(0)->Code, 0);
  EXPECT_EQ(model.RegisterNames.Peek(4)->Code, 5);
  // A line with both angle brackets and a number is a template, even with braces.
  EXPECT_EQ(Texts(model.WriteTemplates),
            (Strings{"", "010203.0A0B0C.08.05.0300 - 02 %2:05%", "template of 3"}));
  // The comment cut also removes the closing ">" of the last request line.
  EXPECT_EQ(Texts(model.Requests),
            (Strings{"010203.0A0B0C.06.05.0100 - 02", "010203.0A0B0C.06.01.0100 - 07"}));
  EXPECT_EQ(Texts(model.RequestRows), (Strings{"2, 3;9", ""}));
  EXPECT_EQ(Texts(model.RequestSaves), (Strings{"SAVEDATALINES=t.log", ""}));
  EXPECT_EQ(model.OneStepDelay, 250);
  EXPECT_EQ(model.OneCycleDelay, 0);

  // The same file with CR-only or LF-only line ends reads line by line alike.
  for (const std::string end : {"\r", "\n"}) {
    std::string other;
    for (char c : content) {
      if (c == '\n')
        other += end;
      else if (c != '\r')
        other += c;
    }
    TDeviceModel again;
    ASSERT_TRUE(LoadDeviceDescription(dir.File("other.rst", other), again));
    EXPECT_EQ(Texts(again.RegisterNames), Texts(model.RegisterNames));
    EXPECT_EQ(Texts(again.WriteTemplates), Texts(model.WriteTemplates));
    EXPECT_EQ(Texts(again.Requests), Texts(model.Requests));
    EXPECT_EQ(Texts(again.RequestRows), Texts(model.RequestRows));
    EXPECT_EQ(again.OneStepDelay, 250);
  }
}

TEST(LoadDeviceDescriptionTest, RegisterNumbers) {
  TTempDir dir;
  TDeviceModel model;
  ASSERT_TRUE(LoadDeviceDescription(dir.File("n.rst",
                                             "{a} # 0x3 #\n"
                                             "{b} #0#\n"
                                             "{c} #65536#\n"
                                             "{d} #-1#\n"
                                             "{e} #two#\n"
                                             "{f} #1#\n"
                                             "{g} #3#\n"),
                                    model));
  // A later line for the same number replaces the earlier one; bad numbers do nothing.
  EXPECT_EQ(Texts(model.RegisterNames), (Strings{"f", "", "g"}));
}

TEST(LoadDeviceDescriptionTest, SettingsAndTheirPersistence) {
  TTempDir dir;
  TDeviceModel model;
  ASSERT_TRUE(LoadDeviceDescription(dir.File("a.rst",
                                             "{r} #1#\n"
                                             "@@ONECYCLEDELAY=1000\n"
                                             "@@regsendtimeout1 = 5\n"
                                             "@@RegSendTimeout2=abc\n"
                                             "@@RegSendTimeout3=$10\n"
                                             "@@ONESTEPDELAY=abc\n"
                                             "@@UNKNOWN=3\n"
                                             "x@@ONECYCLEDELAY=7\n"),
                                    model));
  EXPECT_EQ(model.OneCycleDelay, 1000);
  EXPECT_EQ(model.OneStepDelay, DelayUnset);
  EXPECT_EQ(model.RegSendTimeout1, 5);
  EXPECT_EQ(model.RegSendTimeout2, 300);
  EXPECT_EQ(model.RegSendTimeout3, 16);

  // A second file that names no settings keeps them; its lists replace the old.
  ASSERT_TRUE(LoadDeviceDescription(dir.File("b.rst", "<0102030A0B0C06010000> [1]\n"), model));
  EXPECT_EQ(model.OneCycleDelay, 1000);
  EXPECT_EQ(model.RegSendTimeout1, 5);
  EXPECT_EQ(model.Requests.Count(), 1);
  EXPECT_EQ(model.RegisterNames.Count(), 0);

  // Negative values would be endless waits: they count as 0, but -1 is DelayUnset.
  ASSERT_TRUE(LoadDeviceDescription(dir.File("c.rst",
                                              "{r} #1#\n"
                                              "@@ONESTEPDELAY=-5\n"
                                              "@@ONECYCLEDELAY=-1\n"
                                              "@@REGSENDTIMEOUT2=-300\n"
                                              "@@ONESTEPDELAY\n"),
                                    model));
  EXPECT_EQ(model.OneStepDelay, DelayUnset);  // the last line has no value
  EXPECT_EQ(model.OneCycleDelay, DelayUnset);
  EXPECT_EQ(model.RegSendTimeout2, 0);
  ASSERT_TRUE(LoadDeviceDescription(dir.File("d.rst", "{r} #1#\n@@ONESTEPDELAY=-5\n"), model));
  EXPECT_EQ(model.OneStepDelay, 0);
}

TEST(LoadDeviceDescriptionTest, AFileThatYieldsNothingLeavesModelAndSettings) {
  TTempDir dir;
  TDeviceModel model;
  ASSERT_TRUE(LoadDeviceDescription(dir.File("good.rst", "{t} #1#\n<010203.0A0B0C.06.05.0100 - 01> [1]\n"
                                                         "<010203.0A0B0C.08.05.0300 - 01 %1:05%> #1#\n"
                                                         "@@ONESTEPDELAY=40\n"),
                                    model));
  std::string noise;
  for (int i = 0; i < 3000; ++i) noise += static_cast<char>((i * 7919 + 13) % 251);
  for (const std::string& content :
       {noise, std::string(), std::string("// only a comment\n\n"), std::string("@@ONESTEPDELAY=7\n"),
        std::string("{name without number}\n#1# no braces\n{bad} #0#\n<x> #65536#\n<b>bold</b> <dead>\n"),
        std::string("#include <stdio.h>\nint main() { return 0; }\n")}) {
    const std::string file = dir.File("bad.rst", content);
    const TLoadResult result = LoadDeviceDescription(file, model);
    EXPECT_TRUE(result.NothingUsable()) << content;
    EXPECT_EQ(result.Message(), file + ": no requests or registers found");
    EXPECT_EQ(Texts(model.RegisterNames), (Strings{"t"}));
    EXPECT_EQ(Texts(model.Requests), (Strings{"010203.0A0B0C.06.05.0100 - 01"}));
    EXPECT_EQ(Texts(model.RequestRows), (Strings{"1"}));
    EXPECT_EQ(model.WriteTemplates.Count(), 1);
    EXPECT_EQ(model.OneStepDelay, 40);  // the settings of a refused file do not count
  }
  // A name alone, or a request alone, is a description: it replaces the model.
  ASSERT_TRUE(LoadDeviceDescription(dir.File("names.rst", "junk\n{p} #2#\n@@ONESTEPDELAY=7\n"), model));
  EXPECT_EQ(Texts(model.RegisterNames), (Strings{"", "p"}));
  EXPECT_EQ(model.Requests.Count(), 0);
  EXPECT_EQ(model.OneStepDelay, 7);
  ASSERT_TRUE(LoadDeviceDescription(
      dir.File("request.rst", "<0102030a0b0c06010000> (SAVEDATALINES=v.txt)\n<html>\n<add>\n"), model));
  EXPECT_EQ(Texts(model.Requests), (Strings{"0102030a0b0c06010000", "html", "add"}));  // read as ever
  EXPECT_EQ(model.RegisterNames.Count(), 0);
  // Requests whose answers go nowhere (a slave table opened by mistake) are no device.
  const std::string table = dir.File("table.smt", "<010203.0A0B0C.06.05.0100 - 01 > [0A0B0C.010203.07.05.0300 - 01 E8 03 ]\n");
  EXPECT_TRUE(LoadDeviceDescription(table, model).NothingUsable());
  EXPECT_EQ(model.Requests.Count(), 3);
}

TEST(LoadDeviceDescriptionTest, MissingFileLeavesModel) {
  TDeviceModel model;
  model.Requests.AddText("keep");
  EXPECT_FALSE(LoadDeviceDescription("/nonexistent/dir/x.rst", model));
  EXPECT_FALSE(LoadDeviceDescription("/tmp", model));
  EXPECT_EQ(Texts(model.Requests), (Strings{"keep"}));
}

TEST(LoadDeviceDescriptionTest, SampleFileLoads) {
  TDeviceModel model;
  const std::string sample = std::string(MKP_SOURCE_DIR) + "/examples/device.rst";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no sample file";
  ASSERT_TRUE(LoadDeviceDescription(sample, model));
  EXPECT_GT(model.Requests.Count(), 0);
  EXPECT_GT(model.RegisterNames.Count(), 0);
  EXPECT_GT(model.WriteTemplates.Count(), 0);
  EXPECT_EQ(model.Requests.Count(), model.RequestRows.Count());
  EXPECT_EQ(model.Requests.Count(), model.RequestSaves.Count());
}

// ---- FillWritePacket -------------------------------------------------------

namespace {

class FillWritePacketTest : public ::testing::Test {
protected:
  FillWritePacketTest() { table.SetRowCount(5); }

  // The data bytes the template produces as hex text ("0A 14 1E").
  std::string Data(const std::string& writeTemplate, int count) {
    TPacketHolder packet;
    if (!FillWritePacket(writeTemplate, *packet, table)) return "FAILED";
    return Hex(*packet, count);
  }
  static std::string Hex(const TMKPPacket& packet, int count) {
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < count; ++i) {
      if (!text.empty()) text += ' ';
      text += digits[packet.Data[i] >> 4];
      text += digits[packet.Data[i] & 15];
    }
    return text;
  }
  std::string WithValue(const std::string& value, const std::string& placeholder, int count) {
    table.SetNewValue(3, value);
    return Data("010203 0A0B0C 08 05 0000 - " + placeholder, count);
  }

  TRegistersTable table;
};

}  // namespace

TEST_F(FillWritePacketTest, HeaderAsWrittenAndShortTemplates) {
  TPacketHolder packet;
  ASSERT_TRUE(FillWritePacket(" 010203.0A0B0C.08.05.0900 - 02 (03) ", *packet, table));
  EXPECT_EQ(packet->DstAddr, MakeVorelAddr(1, 2, 3));
  EXPECT_EQ(packet->SrcAddr, MakeVorelAddr(0x0A, 0x0B, 0x0C));
  EXPECT_EQ(packet->Command, 8);
  EXPECT_EQ(packet->DataType, 5);
  EXPECT_EQ(packet->DataLen, 9);  // as written, not recomputed
  // The bytes the template does not produce are zero.
  EXPECT_EQ(Hex(*packet, 4), "02 03 00 00");
  EXPECT_FALSE(FillWritePacket("", *packet, table));
  EXPECT_FALSE(FillWritePacket("0102030A0B0C08050", *packet, table));
  EXPECT_TRUE(FillWritePacket("0102030A0B0C08050000", *packet, table));
  // A lone digit at the very end is one byte 00; a lone "%" is dropped.
  EXPECT_EQ(Data("0102030A0B0C08050000 11 2", 3), "11 00 00");
  EXPECT_EQ(Data("0102030A0B0C08050000 % 11", 2), "11 00");
}

TEST_F(FillWritePacketTest, PlaceholderTypes) {
  EXPECT_EQ(WithValue("10 20 30", "%3%", 4), "0A 14 1E 00");
  EXPECT_EQ(WithValue("0A", "%3%", 1), "00");       // hex form reads as 0
  EXPECT_EQ(WithValue("$0A 0x10", "%3%", 2), "0A 10");
  EXPECT_EQ(WithValue("1", "%3:0B% 77", 5), "01 00 00 00 77");
  EXPECT_EQ(WithValue("1", "%3:11% 77", 1), "77");  // 11 hex is an array code
  EXPECT_EQ(WithValue("1", "%3:B% 77", 1), "77");   // one digit reads as 0
  EXPECT_EQ(WithValue("-5", "%3:07%", 1), "FB");
  EXPECT_EQ(WithValue("-300", "%3:07%", 1), "D4");
  EXPECT_EQ(WithValue("-256", "%3:08%", 1), "80");  // top bit set for negatives
  EXPECT_EQ(WithValue("-2", "%3:09%", 2), "FE FF");
  EXPECT_EQ(WithValue("4660", "%3:05%", 2), "34 12");
  EXPECT_EQ(WithValue("-1", "%3:27% 55", 9), "FF FF FF FF FF FF FF FF 55");
  EXPECT_EQ(WithValue("5", "%3:28%", 8), "05 00 00 00 00 00 00 00");
  EXPECT_EQ(WithValue("1.0", "%3:19%", 4), "00 00 80 3F");
  EXPECT_EQ(WithValue("12.5", "%3:0D%", 2), "7D 04");
  EXPECT_EQ(WithValue("Ab c", "%3:03% 00", 5), "41 62 20 63 00");
  EXPECT_EQ(WithValue("59", "%3:25%", 1), "59");
  EXPECT_EQ(WithValue("x", "%3:0B%", 4), "00 00 00 00");
  EXPECT_EQ(WithValue("abc", "%3:19%", 4), "00 00 00 00");
  // A row that is not a number uses row 0, whose caption "New value" gives two BYTE zeros.
  EXPECT_EQ(WithValue("9", "%x:0B% 77", 3), "00 00 77");
}

TEST_F(FillWritePacketTest, OneDigitBcdByteIsPadded) {
  EXPECT_EQ(WithValue("7", "%3:25%", 1), "07");
  EXPECT_EQ(WithValue("7 12", "%3:25%", 1), "07");
}

TEST_F(FillWritePacketTest, BcdLongDateTime) {
  EXPECT_EQ(WithValue("2023.12.31 23:59:58.125", "%3:23%", 8), "23 12 31 23 59 58 12 50");
  EXPECT_EQ(WithValue("5-1-2 3", "%3:23% 77", 9), "05 01 02 03 00 00 00 00 77");
  EXPECT_EQ(WithValue("1999;7", "%3:23%", 2), "99 07");
  EXPECT_EQ(WithValue("year 1 2", "%3:23% 77", 9), "00 00 00 00 00 00 00 00 77");
}

TEST_F(FillWritePacketTest, ValueSources) {
  table.SetCurrentValue(2, " 513 ");
  EXPECT_EQ(Data("0102030A0B0C08050000 %2:05%", 2), "01 02");  // New value empty: Current
  table.SetNewValue(2, " 1 ");
  EXPECT_EQ(Data("0102030A0B0C08050000 %2:05%", 2), "01 00");
  // Both empty: WORD writes 00 00, BYTE nothing.
  EXPECT_EQ(Data("0102030A0B0C08050000 %4:05% 77", 3), "00 00 77");
  EXPECT_EQ(Data("0102030A0B0C08050000 %4% 77", 1), "77");
  // Rows outside the table read as empty.
  EXPECT_EQ(Data("0102030A0B0C08050000 %99:05% 77", 3), "00 00 77");
}

TEST_F(FillWritePacketTest, NeverWritesPastTheDataBlock) {
  std::string longValue(MaxDataLen + 10, 'z');
  table.SetNewValue(1, longValue);
  TPacketHolder packet;
  EXPECT_TRUE(FillWritePacket("0102030A0B0C08030008 %1:03% %1:03% 11", *packet, table));
  EXPECT_EQ(packet->Data[MaxDataLen - 1], 'z');
}

// ---- SetAddressText --------------------------------------------------------

TEST(SetAddressTextTest, Parts) {
  EXPECT_EQ(SetAddressText(""), "255.255.255");
  EXPECT_EQ(SetAddressText("1.2.3"), "1.2.3");
  EXPECT_EQ(SetAddressText("10.20"), "10.20.255");
  EXPECT_EQ(SetAddressText("1.2.3.4"), "1.2.255");
  EXPECT_EQ(SetAddressText(" 1 . 2 . 3 "), "1.2.3");
  EXPECT_EQ(SetAddressText("a.300.$1F"), "255.300.$1F");
  EXPECT_EQ(SetAddressText("-1..x"), "-1.255.255");
}

TEST(ApplyAddressTextTest, StopsAtTheFirstBadPart) {
  TVorelAddr address = MakeVorelAddr(9, 9, 9);
  EXPECT_EQ(ApplyAddressText("1.2.3", address), 3);
  EXPECT_EQ(address, MakeVorelAddr(1, 2, 3));
  EXPECT_EQ(ApplyAddressText("257.x.5", address), 1);
  EXPECT_EQ(address, MakeVorelAddr(1, 2, 3));
  EXPECT_EQ(ApplyAddressText("", address), 0);
  EXPECT_EQ(ApplyAddressText("255.255.255", address), 3);
  EXPECT_EQ(address, MakeVorelAddr(255, 255, 255));
}

// ---- Named events ------------------------------------------------------------

TEST(NamedEventTest, SetResetAndHolds) {
  const std::string name = "test-event-" + std::to_string(::getpid());
  EXPECT_FALSE(NamedEventExists(name));
  SetNamedEvent(name);  // no event: nothing happens
  EXPECT_FALSE(IsNamedEventSet(name));
  CreateNamedEvent(name);
  EXPECT_TRUE(NamedEventExists(name));
  EXPECT_FALSE(IsNamedEventSet(name));
  SetNamedEvent(name);
  SetNamedEvent(name);
  EXPECT_TRUE(IsNamedEventSet(name));  // manual reset: stays set
  CreateNamedEvent(name);              // a second hold keeps the state
  EXPECT_TRUE(IsNamedEventSet(name));
  ReleaseNamedEvent(name);
  EXPECT_TRUE(IsNamedEventSet(name));
  ResetNamedEvent(name);
  EXPECT_FALSE(IsNamedEventSet(name));
  ReleaseNamedEvent(name);
  EXPECT_FALSE(NamedEventExists(name));
  // Names are cut to 255 characters.
  const std::string longName(300, 'e');
  CreateNamedEvent(longName);
  EXPECT_TRUE(NamedEventExists(longName.substr(0, 255)));
  ReleaseNamedEvent(longName);
  EXPECT_FALSE(NamedEventExists(longName.substr(0, 255)));
}

TEST(NamedEventTest, StepEventName) {
  // 1 January 2000, 12:00 local time is day 36526.5.
  std::tm local{};
  local.tm_year = 100;
  local.tm_mon = 0;
  local.tm_mday = 1;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  EXPECT_EQ(MakeStepEventName(when), "_MKPTEST_REGISTERSA_EVENT36526.5");
  EXPECT_EQ(MakeStepEventName(when + std::chrono::hours(6)), "_MKPTEST_REGISTERSA_EVENT36526.75");
  const std::string now = MakeStepEventName();
  EXPECT_EQ(now.rfind("_MKPTEST_REGISTERSA_EVENT4", 0), 0u);
  EXPECT_NE(now.find('.'), std::string::npos);
}

TEST(NamedEventThreadTest, ConcurrentUse) {
  const std::string name = "test-thread-event";
  CreateNamedEvent(name);
  std::thread setter([&] {
    for (int i = 0; i < 1000; ++i) {
      SetNamedEvent(name);
      ResetNamedEvent(name);
    }
  });
  int seen = 0;
  for (int i = 0; i < 1000; ++i) seen += IsNamedEventSet(name) ? 1 : 0;
  setter.join();
  EXPECT_FALSE(IsNamedEventSet(name));
  EXPECT_LE(seen, 1000);
  ReleaseNamedEvent(name);
}

// ---- Registers table -----------------------------------------------------------

TEST(RegistersTableTest, CellsHeaderAndNotifications) {
  TRegistersTable table;
  std::vector<std::pair<int, int>> changes;
  table.SetOnChange([&](int row, int column) { changes.emplace_back(row, column); });
  TParamList names;
  names.AddText("");
  names.AddText("Second");
  table.LoadNames(names);
  EXPECT_EQ(table.RowCount(), 2);
  EXPECT_EQ(table.Cell(0, 0), "Register");
  EXPECT_EQ(table.Cell(0, 1), "Current value");
  EXPECT_EQ(table.ValueText(0), "New value");
  EXPECT_EQ(table.Cell(2, 0), "Second");
  table.SetCurrentValue(2, "5");
  table.SetCurrentValue(2, "5");  // no change, no notification
  table.SetCurrentValue(3, "x");  // outside: ignored
  EXPECT_EQ(table.Cell(3, 1), "");
  EXPECT_EQ(table.Cell(-1, 1), "");
  EXPECT_EQ(changes, (std::vector<std::pair<int, int>>{{-1, -1}, {2, 1}}));
  table.SetNewValue(1, "7");
  table.LoadNames(names);  // values cleared
  EXPECT_EQ(table.NewValue(1), "");
  EXPECT_EQ(table.CurrentValue(2), "");
}
