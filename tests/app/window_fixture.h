// What the window tests share: the pages, dialogs that answer as a test says,
// files read and written whole, the settings file for a port, and a frame
// from its text.
#pragma once

#include <QDialog>
#include <QDir>
#include <QTemporaryDir>
#include <QStringList>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/findbar.h"
#include "app/logpanes.h"
#include "app/masterpage.h"
#include "app/monitorpage.h"
#include "app/registerspage.h"
#include "app/slavepage.h"
#include "modes/registers.h"
#include "protocol/packet.h"
#include "serial/pty_pair.h"

namespace mkptest {

// Answers the boxes and dialogs as a test says, and remembers what was shown.
class TAnsweringDialogs : public mkpt::TDialogs {
public:
  QStringList Errors, Infos, Questions;
  bool AnswerYes = false;
  QString FileToOpen, FileToSave;
  QString FilterToSave;  // the filter the user picks in a save dialog
  void Error(const QString& text) override { Errors << text; }
  void Information(const QString& text) override { Infos << text; }
  bool AskYesNo(const QString& text) override {
    Questions << text;
    return AnswerYes;
  }
  QString OpenFile(const QString&, const QString&, const QString&) override { return FileToOpen; }
  QString SaveFile(const QString&, const QString&, const QString&, QString* chosenFilter) override {
    if (chosenFilter != nullptr) *chosenFilter = FilterToSave;
    return FileToSave;
  }
  // Answers the window's own dialogs; none: cancelled.
  std::function<bool(QDialog&)> Answer;
  int DialogsShown = 0;
  bool Run(QDialog& dialog) override {
    ++DialogsShown;
    return Answer ? Answer(dialog) : false;
  }
};

inline std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const QString& path, const std::string& text) {
  std::ofstream(path.toStdString(), std::ios::binary) << text;
}

// mkpt.ini naming the port, the other settings at their defaults.
inline std::string IniFor(const std::string& port) {
  return "PortNumber=" + port + "\r\nTransferRate=9600\r\nStopBits=1\r\nParity=NONE\r\n"
         "ReadIntervalTimeout=1\r\nWriteIntervalTimeout=0\r\n";
}

inline std::vector<std::uint8_t> FrameOf(const std::string& text) {
  mkp::TPacketHolder packet;
  if (!mkp::TextToPacket(text, *packet)) return {};
  std::vector<std::uint8_t> frame(mkp::FrameBufferSize);
  int length = 0;
  mkp::BuildFrame(*packet, frame.data(), length);
  frame.resize(static_cast<std::size_t>(length));
  return frame;
}

// What a window test stands in: a scratch folder as the working folder, with
// an mkpt.ini naming one end of a pseudo-terminal pair, and dialogs that
// answer as the test says. Enter() in init(), Leave() in cleanup().
struct TWindowScratch {
  QTemporaryDir Dir;
  std::shared_ptr<TAnsweringDialogs> Dialogs;
  std::unique_ptr<TPtyPair> Pty;

  bool Enter() {
    previous_ = QDir::currentPath();
    if (!Dir.isValid()) return false;
    QDir::setCurrent(Dir.path());
    Dialogs = std::make_shared<TAnsweringDialogs>();
    Pty = std::make_unique<TPtyPair>();
    WriteFile("mkpt.ini", IniFor(Pty->Path()));
    return true;
  }
  void Leave() { QDir::setCurrent(previous_); }

private:
  QString previous_;
};

}  // namespace mkptest
