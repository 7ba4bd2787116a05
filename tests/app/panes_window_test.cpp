// The panes as a user works them, on the offscreen platform: find and filter
// through the find bar, copying several lines, the colours on a dark
// palette, the port field's long names, the Slave grid's width, the order of
// Tab and the About box.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <thread>

#include "app/window_fixture.h"
#include "app/dialogs.h"
#include "app/findbar.h"
#include "app/mainform.h"
#include "app/panecolour.h"
#include "app/portframe.h"
#include "serial/pty_pair.h"

using namespace mkpt;

namespace {

using TQuietDialogs = mkptest::TAnsweringDialogs;

// The decode lines of a polling session: register 04 every third line.
std::vector<TPaneLine> Decoded(int first, int count) {
  std::vector<TPaneLine> lines;
  for (int i = first; i < first + count; ++i)
    lines.push_back({(i % 2 ? "<- 0A0B0C>>010203: reg " : "-> 010203>>0A0B0C: reg ") +
                         std::string(i % 3 == 0 ? "04" : "05") + " #" + std::to_string(i),
                     {}, {}});
  return lines;
}

std::vector<std::string> RowsOf(const TPaneModel& model) {
  std::vector<std::string> rows;
  for (int r = 0; r < model.rowCount(); ++r) rows.push_back(model.index(r).data().toString().toStdString());
  return rows;
}

QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 45));
  p.setColor(QPalette::WindowText, QColor(220, 220, 220));
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  p.setColor(QPalette::AlternateBase, QColor(45, 45, 45));
  p.setColor(QPalette::Text, QColor(220, 220, 220));
  p.setColor(QPalette::Button, QColor(45, 45, 45));
  p.setColor(QPalette::ButtonText, QColor(220, 220, 220));
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::black);
  p.setColor(QPalette::Link, QColor(0, 0, 238));  // left at a light theme's link colour
  return p;
}

}  // namespace

class PanesWindowTest : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  QString previous_;
  std::shared_ptr<TQuietDialogs> dialogs_;
  std::unique_ptr<mkptest::TPtyPair> pty_;

  std::unique_ptr<TMainForm> Window() {
    auto w = std::make_unique<TMainForm>(dialogs_);
    w->show();
    if (!QTest::qWaitForWindowActive(w.get())) qWarning("the window is not active");
    return w;
  }

private slots:
  void init() {
    previous_ = QDir::currentPath();
    QVERIFY(dir_.isValid());
    QDir::setCurrent(dir_.path());
    dialogs_ = std::make_shared<TQuietDialogs>();
    pty_ = std::make_unique<mkptest::TPtyPair>();
    std::ofstream("mkpt.ini", std::ios::binary) << "PortNumber=" << pty_->Path() << "\r\n";
  }
  void cleanup() { QDir::setCurrent(previous_); }

  void TheFilterKeepsEveryLineAndShowsOnlyTheMatches() {
    auto w = Window();
    TPaneModel& model = w->DecodeTerminalLB->Model();
    w->DecodeTerminalLB->Append(Decoded(0, 30), false);
    model.SetMatcher(std::make_shared<TLineMatcher>(TFindQuery{"REG 04", false, false}));
    QCOMPARE(model.Matches().MatchCount(), std::size_t{10});
    QCOMPARE(model.rowCount(), 30);  // marked, not yet filtered
    model.SetFilter(true);
    QCOMPARE(model.rowCount(), 10);
    QCOMPARE(model.index(2).data().toString(), QString("-> 010203>>0A0B0C: reg 04 #6"));

    // Lines arriving while filtered: only the matches appear, in order.
    w->DecodeTerminalLB->Append(Decoded(30, 6), false);
    QCOMPARE(model.rowCount(), 12);
    QCOMPARE(model.index(11).data().toString(), QString("<- 0A0B0C>>010203: reg 04 #33"));

    // Case and regular expressions.
    model.SetMatcher(std::make_shared<TLineMatcher>(TFindQuery{"REG 04", false, true}));
    QCOMPARE(model.rowCount(), 0);
    model.SetMatcher(std::make_shared<TLineMatcher>(TFindQuery{R"(^<-.*#(1|2)\d$)", true, false}));
    QCOMPARE(model.rowCount(), 10);  // #11 #13 ... #29
    // A bad expression filters nothing away.
    model.SetMatcher(std::make_shared<TLineMatcher>(TFindQuery{"reg (", true, false}));
    QCOMPARE(model.rowCount(), 36);

    // The cap holds with the filter on: the oldest lines go, matches with them.
    model.SetMatcher(std::make_shared<TLineMatcher>(TFindQuery{"reg 04", false, false}));
    w->DecodeTerminalLB->Append(Decoded(36, 8097), false);
    QCOMPARE(model.Lines().size(), std::size_t{8097});
    QCOMPARE(model.Lines().front().Text.substr(model.Lines().front().Text.find('#')), std::string("#36"));
    QCOMPARE(model.rowCount(), 2699);  // #36, #39, ... #8130
    QVERIFY(RowsOf(model).back().ends_with("#8130"));

    // Clearing the filter brings every line back, in order.
    model.SetFilter(false);
    QCOMPARE(model.rowCount(), 8097);
    const auto rows = RowsOf(model);
    for (int i = 0; i < 8097; ++i) QVERIFY(rows[static_cast<std::size_t>(i)].ends_with("#" + std::to_string(36 + i)));
    // Clearing the pane with a filter on empties it; new matches show.
    model.SetFilter(true);
    w->RunOperation(opClearTerminal);
    QCOMPARE(model.rowCount(), 0);
    w->DecodeTerminalLB->Append(Decoded(0, 4), false);
    QCOMPARE(RowsOf(model), (std::vector<std::string>{"-> 010203>>0A0B0C: reg 04 #0", "<- 0A0B0C>>010203: reg 04 #3"}));
  }

  void LinesFromAWorkerWhileFilteredArriveInOrder() {
    auto w = Window();
    FindBarOn(*w, w->DecodeTerminalLB, "reg 04");
    w->FindBar->FilterCB->setChecked(true);
    std::thread maker([&] {
      for (int i = 0; i < 3000; ++i) w->Transport.AddDecodeLine(Decoded(i, 1)[0].Text);
    });
    // Drained while the worker goes on.
    QTRY_VERIFY_WITH_TIMEOUT((w->DrainPanes(), w->DecodeTerminalLB->Model().Lines().size() == 3000), 20000);
    maker.join();
    w->DrainPanes();
    const auto rows = RowsOf(w->DecodeTerminalLB->Model());
    QCOMPARE(rows.size(), std::size_t{1000});
    for (std::size_t k = 0; k < rows.size(); ++k) QVERIFY(rows[k].ends_with("#" + std::to_string(3 * k)));
    QCOMPARE(w->FindBar->CountLabel->text().endsWith("of 1000"), true);
  }

  void TheFindBarStepsThroughTheMatchesOfTheFocusedPane() {
    auto w = Window();
    w->TerminalLB->Append(Decoded(0, 5), false);
    w->DecodeTerminalLB->Append(Decoded(0, 10), false);  // reg 04 at #0 #3 #6 #9
    QVERIFY(w->MainItem("Find...")->shortcut() == QKeySequence(QKeySequence::Find));
    QVERIFY(w->PopupItem("Find...") != nullptr);
    w->DecodeTerminalLB->setFocus();
    w->MainItem("Find...")->trigger();
    TFindBar& bar = *w->FindBar;
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.Pane(), w->DecodeTerminalLB);
    QCOMPARE(bar.PaneLabel->text(), QString("&Find in decode log:"));
    QVERIFY(bar.Field->hasFocus());
    QVERIFY(bar.y() >= w->TerminalSplitter->geometry().bottom());  // under the panes
    QTest::keyClicks(bar.Field, "reg 04");
    TPaneView& pane = *w->DecodeTerminalLB;
    QCOMPARE(pane.CurrentLine(), 0LL);
    QCOMPARE(bar.CountLabel->text(), QString("1 of 4"));
    QTest::keyClick(bar.Field, Qt::Key_Return);
    QCOMPARE(pane.CurrentLine(), 3LL);
    QTest::keyClick(bar.Field, Qt::Key_F3);
    QCOMPARE(pane.CurrentLine(), 6LL);
    bar.Next();
    bar.Next();  // round to the first
    QCOMPARE(pane.CurrentLine(), 0LL);
    QTest::keyClick(bar.Field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(pane.CurrentLine(), 9LL);
    QCOMPARE(bar.CountLabel->text(), QString("4 of 4"));
    QTest::keyClick(bar.Field, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(pane.CurrentLine(), 6LL);
    QCOMPARE(pane.selectionModel()->selectedRows().size(), 1);

    // The filter keeps the current line; the count follows new lines.
    bar.FilterCB->setChecked(true);
    QCOMPARE(pane.Model().rowCount(), 4);
    QCOMPARE(pane.CurrentLine(), 6LL);
    pane.Append(Decoded(10, 3), false);
    QCOMPARE(bar.CountLabel->text(), QString("3 of 5"));

    // A bad expression: red, the reason in the tool tip, all lines shown.
    const QColor base = bar.Field->palette().color(QPalette::Base);
    bar.RegexCB->setChecked(true);
    QTest::keyClicks(bar.Field, "(");
    QVERIFY(bar.Field->palette().color(QPalette::Base) != base);
    QVERIFY(bar.Field->toolTip().startsWith("Not a regular expression: "));
    QCOMPARE(bar.CountLabel->text(), QString("Bad expression"));
    QCOMPARE(pane.Model().rowCount(), 13);
    QTest::keyClick(bar.Field, Qt::Key_Backspace);
    QCOMPARE(bar.Field->palette().color(QPalette::Base), base);
    QCOMPARE(pane.Model().rowCount(), 5);

    // The other pane takes the search when it gets the focus.
    w->TerminalLB->setFocus();
    QCOMPARE(bar.Pane(), w->TerminalLB);
    QCOMPARE(bar.PaneLabel->text(), QString("&Find in terminal log:"));
    QCOMPARE(w->DecodeTerminalLB->Model().rowCount(), 13);
    QCOMPARE(w->TerminalLB->Model().rowCount(), 2);
    // Escape closes the bar: every line again, nothing marked.
    bar.Field->setFocus();
    QTest::keyClick(bar.Field, Qt::Key_Escape);
    QVERIFY(!bar.isVisible());
    QCOMPARE(w->TerminalLB->Model().rowCount(), 5);
    QVERIFY(w->TerminalLB->Model().Matcher() == nullptr);
    QVERIFY(w->TerminalSplitter->geometry().bottom() >= w->TerminalPanel->height() - 2);
  }

  void SeveralLinesAreCopiedAsShown() {
    auto w = Window();
    TPaneView& pane = *w->TerminalLB;
    pane.Append(Decoded(0, 6), false);
    const auto rect = [&](int row) { return pane.visualRect(pane.Model().index(row)).center(); };
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, rect(1));
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, Qt::ShiftModifier, rect(3));
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, Qt::ControlModifier, rect(5));
    QTest::keyClick(&pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(),
             QString("<- 0A0B0C>>010203: reg 05 #1\n-> 010203>>0A0B0C: reg 05 #2\n"
                     "<- 0A0B0C>>010203: reg 04 #3\n<- 0A0B0C>>010203: reg 05 #5"));
    // A plain click selects one line alone; Shift+Down extends; the pop-up's Copy.
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, rect(4));
    QCOMPARE(pane.selectionModel()->selectedRows().size(), 1);
    QTest::keyClick(&pane, Qt::Key_Down, Qt::ShiftModifier);
    w->PopupItem("Copy")->trigger();
    QCOMPARE(QApplication::clipboard()->text(),
             QString("-> 010203>>0A0B0C: reg 05 #4\n<- 0A0B0C>>010203: reg 05 #5"));
    // With the filter on, the copy is of the lines shown.
    FindBarOn(*w, &pane, "reg 04");
    w->FindBar->FilterCB->setChecked(true);
    pane.selectAll();
    pane.CopySelection();
    QCOMPARE(QApplication::clipboard()->text(),
             QString("-> 010203>>0A0B0C: reg 04 #0\n<- 0A0B0C>>010203: reg 04 #3"));
  }

  void ColoursStayReadableOnADarkPalette() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    for (const QPalette& palette : {fusion->standardPalette(), DarkPalette()}) {
      const TPaneColours c = PaneColoursFor(palette);
      const QColor base = palette.color(QPalette::Base);
      for (const QColor& colour : {c.Sent, c.Received, c.Message})
        QVERIFY2(Contrast(colour, base) >= 4.5, qPrintable(colour.name() + " on " + base.name()));
      QVERIFY(c.Sent != c.Received && c.Received != c.Message && c.Sent != c.Message);
      QVERIFY(std::abs(c.Sent.hslHue() - c.Received.hslHue()) > 40);
    }
    // What the pane paints on the dark palette: the sent line in its colour.
    auto w = Window();
    TPaneView& pane = *w->TerminalLB;
    pane.setPalette(DarkPalette());
    pane.Append({{"-> 0A0B0C.010203.06.01.0100 - 05", {}, {}}, {"<- Missing format : 01", {}, {}}}, false);
    QCoreApplication::processEvents();  // the view lays its rows out
    const QImage shot = pane.viewport()->grab().toImage();
    const TPaneColours c = PaneColoursFor(pane.palette());
    // Glyphs are smoothed: some of their pixels come close to the pen.
    auto near = [](const QColor& a, const QColor& b) {
      return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 60;
    };
    auto rowHas = [&](int row, const QColor& colour, const QImage& image) {
      const QRect r = pane.visualRect(pane.Model().index(row));
      for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = 0; x < std::min(image.width(), 300); ++x)
          if (near(image.pixelColor(x, y), colour)) return true;
      return false;
    };
    QVERIFY(rowHas(0, c.Sent, shot));
    QVERIFY(rowHas(1, c.Message, shot));
    QVERIFY(!rowHas(0, c.Message, shot));
    // "Colour lines" is on at start and turns the colours off in both panes.
    QAction* item = w->MainItem("Colour lines");
    QVERIFY(item->isChecked());
    item->trigger();
    QVERIFY(!item->isChecked() && !w->DecodeTerminalLB->Coloured());
    QVERIFY(!rowHas(0, c.Sent, pane.viewport()->grab().toImage()));
  }

  void TheMenuEndsWithThePaneToolsAndAboutNamesVersionLicenceAndQt() {
    auto w = Window();
    QMenu* terminal = w->menuBar()->actions().first()->menu();
    QStringList captions;
    for (QAction* a : terminal->actions()) captions << (a->isSeparator() ? "-" : a->text());
    // The Part's items in their order, the newer ones in a group of their own, "Quit" last.
    QCOMPARE(captions, (QStringList{"Save to file", "-", "Terminal autosave", "-", "Clear window", "Autoscroll", "-",
                                    "Show time", "Find...", "Colour lines", "Capture to file...", "Open log...", "About",
                                    "-", "Quit"}));
    captions.clear();
    for (QAction* a : w->TerminalPopupMenu->actions()) captions << (a->isSeparator() ? "-" : a->text());
    QCOMPARE(captions.mid(captions.indexOf("QWORD (39) - show as hex")),
             (QStringList{"QWORD (39) - show as hex", "-", "Show time", "Copy", "Find..."}));
    w->MainItem("About")->trigger();
    QCOMPARE(dialogs_->Infos.size(), 1);
    const QString about = dialogs_->Infos[0];
    QVERIFY(about.contains("MIT licence"));
    QVERIFY(about.contains(QT_VERSION_STR));
    QVERIFY(about.startsWith("mkpt 0."));
    // The codes of the pane tools are no operations of the table's range.
    for (int code : {37, 59, 64}) w->RunOperation(code);
    QVERIFY(dialogs_->Errors.isEmpty() && dialogs_->Infos.size() == 1);
  }

  void ALongPortPathShowsItsUsefulPartAndTheWholePathInTheToolTip() {
    const QString path = "/dev/serial/by-id/usb-Maker_USB_Serial_0001-if00-port0";
    const QFontMetrics metrics(QApplication::font());
    const QString shown = ShownPortName(path, metrics, metrics.horizontalAdvance("usb-Maker_USB…port0") + 2);
    QVERIFY2(shown.startsWith("usb-Ma") && shown.endsWith("port0") && shown.contains(QChar(0x2026)),
             qPrintable(shown));
    QCOMPARE(ShownPortName("/dev/pts/3", metrics, 500), QString("/dev/pts/3"));

    auto w = Window();
    QComboBox* box = w->PortSetupF->PortNumCBox;
    box->lineEdit()->setText(path);
    emit box->lineEdit()->editingFinished();
    QCOMPARE(box->currentText(), path);  // the setting is the whole path
    QCOMPARE(box->toolTip(), path);
    auto* field = static_cast<TPortLineEdit*>(box->lineEdit());
    w->MasterPage->HdrTextLE->setFocus();
    QVERIFY(field->ShownText().endsWith("port0"));
    QVERIFY(!field->ShownText().startsWith("/dev/serial"));
    QCOMPARE(field->text(), path);
    // The drop-down is wide enough for whole names.
    QVERIFY(box->view()->minimumWidth() > metrics.horizontalAdvance(path));
    QCOMPARE(w->StatusPanels[2]->text(), QString("Invalid port settings!  No such device"));
  }

  void TheSlaveGridHasNoHorizontalScrollBarWithManyRows() {
    auto w = Window();
    w->ModePageControl->setCurrentIndex(1);
    for (int i = 0; i < 60; ++i) w->SlavePage->Rows.Add(1);
    QTRY_VERIFY(w->SlavePage->SlaveTable->verticalScrollBar()->isVisible());
    QTRY_COMPARE(w->SlavePage->SlaveTable->horizontalScrollBar()->maximum(), 0);
    const int sum = w->SlavePage->SlaveTable->columnWidth(0) + w->SlavePage->SlaveTable->columnWidth(1);
    QVERIFY(sum <= w->SlavePage->SlaveTable->viewport()->width());
    QVERIFY(sum >= w->SlavePage->SlaveTable->viewport()->width() - 4);
  }

  void TabReachesEveryControlOfThePageInOrder() {
    auto w = Window();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    auto chain = [&](QWidget* from, int count) {
      from->setFocus(Qt::TabFocusReason);
      QList<QWidget*> seen{from};
      for (int i = 1; i < count; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget();
      }
      return seen;
    };
    // The Master page as laid out: the edits, then Automatic, Send, Receive and the interval.
    TMasterPage& master = *w->MasterPage;
    QCOMPARE(chain(master.HdrTextLE, 9),
             (QList<QWidget*>{master.HdrTextLE, master.BodyTextLE, master.AllPacketTextLE, master.AutoCB, master.SendBtn,
                              master.ReceiveBtn, master.AutoIntervalEdit, w->TerminalLB, w->DecodeTerminalLB}));
    QCOMPARE(QApplication::focusWidget()->accessibleName(), QString("Decode log"));
    QCOMPARE(w->TerminalLB->accessibleName(), QString("Terminal log"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w->PortSetupF->PortNumCBox);
    w->ModePageControl->setCurrentIndex(1);
    const TSlavePage& slave = *w->SlavePage;
    QCOMPARE(chain(slave.SlaveBtns[0], 7),
             (QList<QWidget*>{slave.SlaveBtns[0], slave.SlaveBtns[1], slave.LearnBtn, slave.SlaveBtns[2],
                              slave.SlaveBtns[3], slave.SlaveTable, w->TerminalLB}));
    w->ModePageControl->setCurrentIndex(2);
    const TRegistersPage& registers = *w->RegistersPage;
    QCOMPARE(chain(registers.RegistersBtns[0], 4),
             (QList<QWidget*>{registers.RegistersBtns[0], registers.RegistersBtns[2], registers.RegistersBtns[1],
                              registers.RegistersTable}));
    // Send and Receive have keys of their own.
    QCOMPARE(master.SendBtn->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));
    QCOMPARE(master.ReceiveBtn->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    // Every control that takes the focus has a name to be read out.
    for (QWidget* child : w->findChildren<QWidget*>()) {
      if (child->focusPolicy() == Qt::NoFocus || child->window() != w.get() || child->objectName().startsWith("qt_"))
        continue;
      if (qobject_cast<QLineEdit*>(child) && qobject_cast<QComboBox*>(child->parentWidget())) continue;
      const QString name = child->accessibleName().isEmpty() ? child->property("text").toString()
                                                            : child->accessibleName();
      QVERIFY2(!name.isEmpty(), qPrintable(child->metaObject()->className() + QString(" ") + child->objectName()));
    }
  }

private:
  static void FindBarOn(TMainForm& w, TPaneView* pane, const QString& text) {
    pane->setFocus();
    w.RunOperation(opFindInPane);
    w.FindBar->Field->setText(text);
  }
};

QTEST_MAIN(PanesWindowTest)
#include "panes_window_test.moc"
