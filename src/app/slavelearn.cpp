// "Learn slave table..." on the Slave page: the requests of a capture that
// were answered, with their answers, become the rows of the table.
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

#include "app/dialogs.h"
#include "app/pagehost.h"
#include "app/qtext.h"
#include "app/slavepage.h"
#include "modes/learn.h"
#include "modes/worker.h"

namespace mkpt {

namespace {

int RowsWithText(const mkp::TSlaveTable& table) {
  int count = 0;
  for (const mkp::TSlaveRow& row : table.Snapshot()->Rows) count += !row.Received.empty() || !row.Answer.empty();
  return count;
}

}  // namespace

void TSlavePage::LearnTable() {
  TDialogs& dialogs = host_.Dialogs();
  const QString file = dialogs.OpenFile("Learn slave table", "Captures (*.pcapng *.pcap);;All files (*)", "pcapng");
  if (file.isEmpty()) return;
  const QString name = QFileInfo(file).fileName();
  const std::string path = QFile::encodeName(file).toStdString();
  std::vector<mkp::TSlaveRow> rows;
  std::string error;
  mkp::TLearnStats stats;
  bool read = false;
  auto learn = [&](int masterPort) {
    mkp::TLearnOptions options;
    options.MasterInterface = masterPort;
    host_.WaitFor([&] { read = mkp::LearnSlaveTable(path, rows, error, &stats, options); });
  };
  learn(0);
  // A monitor's capture holds no frame sent: the master's requests are those
  // of one of its ports.
  if (read && stats.Requests == 0)
    learn(dialogs.AskYesNo(name + " holds no frame sent from here (a monitor's capture?).\n"
                                  "Were the master's requests those of port 1? (No: port 2)")
              ? 1
              : 2);
  const QString why = QString::fromLocal8Bit(error);
  if (rows.empty()) {
    if (!read) throw std::runtime_error(ToEngine(why));
    dialogs.Information("No request in " + name + " was answered: the slave table stays as it was.");
    return;
  }
  const QString learned = QString("%1 rows learned from %2 (%3 requests, %4 answered).")
                              .arg(rows.size()).arg(name).arg(stats.Requests).arg(stats.Answered);
  if (const int held = RowsWithText(Rows);
      held > 0 && !dialogs.AskYesNo(learned + QString("\nReplace the %1 rows of the slave table by them?").arg(held)))
    return;
  rows.emplace_back();  // the empty row at the end, as after a load
  {
    // The responder holds at a safe point while the rows change.
    mkp::TWorkerPause hold(host_.Mode() == wmSlave ? host_.Worker() : nullptr);
    Rows.SetRows(std::move(rows));
  }
  if (!read) dialogs.Information(why + "\nThe rows learned before it are in the table.");
}

}  // namespace mkpt
