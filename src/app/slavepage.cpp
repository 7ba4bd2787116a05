#include "app/slavepage.h"

#include <QHeaderView>
#include <QPushButton>
#include <QTableView>

#include "app/dialogs.h"
#include "app/dispatcher.h"
#include "app/geometry.h"
#include "app/pagehost.h"
#include "app/qtext.h"
#include "app/slavegrid.h"
#include "modes/slave.h"
#include "modes/worker.h"

namespace mkpt {

TSlavePage::TSlavePage(TPageHost& host, QWidget* parent) : QWidget(parent), host_(host) {
  setObjectName("TabSheet2");
  SlaveTable = new QTableView(this);
  SlaveTable->setObjectName("SlaveTable");
  SlaveTable->setAccessibleName("Slave table");
  SlaveTable->verticalHeader()->hide();
  SlaveTable->setModel(new TSlaveGridModel(Rows, SlaveTable));
  SlaveTable->setCurrentIndex(SlaveTable->model()->index(0, 0));
  SlaveTable->setTabKeyNavigation(false);  // the arrow keys move between cells
  const char* captions[] = {"Add", "Delete", "Load", "Save"};
  for (std::size_t i = 0; i < SlaveBtns.size(); ++i) {
    SlaveBtns[i] = new QPushButton(captions[i], this);
    SlaveBtns[i]->setObjectName(QString("SlaveBtn%1").arg(i + 1));
  }
  // "Add", "Delete" and the cell edits stay outside the dispatcher.
  connect(SlaveBtns[0], &QPushButton::clicked, this, [this] { Rows.Add(CurrentRow()); });
  connect(SlaveBtns[1], &QPushButton::clicked, this, [this] { Rows.Delete(CurrentRow()); });
  TDispatcher& dispatcher = host_.Dispatcher();
  dispatcher.Add(opLoadSlaveTable, [this] { LoadTable(); });
  dispatcher.Add(opSaveSlaveTable, [this] { SaveTable(); });
  connect(SlaveBtns[2], &QPushButton::clicked, this, [&dispatcher] { dispatcher.Run(opLoadSlaveTable); });
  connect(SlaveBtns[3], &QPushButton::clicked, this, [&dispatcher] { dispatcher.Run(opSaveSlaveTable); });
  LearnBtn = new QPushButton("Learn slave table...", this);
  LearnBtn->setObjectName("SlaveLearnBtn");
  LearnBtn->setToolTip("Fill the table with the requests and answers of a capture");
  dispatcher.Add(opLearnSlaveTable, [this] { LearnTable(); });
  connect(LearnBtn, &QPushButton::clicked, this, [&dispatcher] { dispatcher.Run(opLearnSlaveTable); });
}

std::unique_ptr<mkp::TWorkerThread> TSlavePage::MakeResponder() {
  auto responder = std::make_unique<mkp::TWorker<mkp::TSlaveAutoRepeater>>();
  responder->SetTransport(&host_.Transport());
  responder->SetTables(&Rows);
  return responder;
}

QList<QWidget*> TSlavePage::TabChain() const {
  return {SlaveBtns[0], SlaveBtns[1], LearnBtn, SlaveBtns[2], SlaveBtns[3], SlaveTable};
}

void TSlavePage::Measure(TLayoutInput& in) const {
  in.GridFrame = 2 * SlaveTable->frameWidth();
  in.ButtonWidth = std::max(in.ButtonWidth, LearnBtn->fontMetrics().horizontalAdvance(LearnBtn->text()) + 24);
}

void TSlavePage::Arrange(const TLayout& l) {
  Apply(SlaveBtns[0], l.SlaveAdd);
  Apply(SlaveBtns[1], l.SlaveDelete);
  Apply(SlaveBtns[2], l.SlaveLoad);
  Apply(SlaveBtns[3], l.SlaveSave);
  Apply(LearnBtn, l.SlaveLearn);
  Apply(SlaveTable, l.SlaveTable);
  TColumnFit::For(SlaveTable)->SetWidths({l.SlaveColumnWidth, l.SlaveColumnWidth});
}

int TSlavePage::CurrentRow() const {
  const QModelIndex current = SlaveTable->currentIndex();
  return current.isValid() ? current.row() + 1 : 1;
}

void TSlavePage::LoadTable() {
  const QString file = host_.Dialogs().OpenFile("Open", "Table files (*.smt);;All files (*)", "smt");
  if (file.isEmpty()) return;
  // The responder holds at a safe point while the rows change.
  mkp::TWorkerPause hold(host_.Mode() == wmSlave ? host_.Worker() : nullptr);
  mkp::LoadSlaveTable(Rows, ToEngine(file)).ThrowIfNothingUsable();
}

void TSlavePage::SaveTable() {
  const QString file = host_.Dialogs().SaveFile("Save", "Table files (*.smt);;All files (*)", "smt");
  if (file.isEmpty()) return;
  mkp::SaveSlaveTable(Rows, ToEngine(file));
}

}  // namespace mkpt
