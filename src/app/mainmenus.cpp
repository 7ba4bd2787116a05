// The main menu and the panes' pop-up menu: the operations of their switches
// and of the pane tools (find, copy, line colours, the About box), the items
// bound to them in the dispatcher, and the order of Tab through the window.
#include <QAction>
#include <QLineEdit>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <tuple>

#include "app/findbar.h"
#include "app/logpanes.h"
#include "app/mainform.h"
#include "app/masterpage.h"
#include "app/monitorpage.h"
#include "app/portframe.h"
#include "app/registerspage.h"
#include "app/slavepage.h"

#ifndef MKPT_VERSION
#define MKPT_VERSION "0"
#endif

namespace mkpt {

namespace {

// The show-as-hex items: main menu caption, pop-up caption.
constexpr std::array<std::pair<const char*, const char*>, 14> kHexItems = {{
    {"BYTE (1) - show as hex", "BYTE (1)- show as hex"},
    {"WORD (5) - show as hex", "WORD (5) - show as hex"},
    {"SHORTINT (7) - show as hex", "SHORTINT (7) - show as hex"},
    {"INTEGER (9) - show as hex", "INTEGER (9) - show as hex"},
    {"DWORD (11) - show as hex", "DWORD (11) - show as hex"},
    {"L_SINGLE (13) - show as hex", "L_SINGLE (13) - show as hex"},
    {"S_SINGLE (15) - show as hex", "S_SINGLE (15) - show as hex"},
    {"SINGLE IEEE-754 (25) - show as hex", "SINGLE IEEE-754 (25) - show as hex"},
    {"M_SINGLE (27) - show as hex", "M_SINGLE (27) - show as hex"},
    {"LONG_DATETIME (31) - show as hex", "LONG_DATETIME (31) - show as hex"},
    {"Vorel_ADDR (33) - show as hex", "Vorel_ADDR (33) - show as hex"},
    {"BCD_LONG_DATETIME (35) - show as hex", "BCD_LONG_DATETIME (35) - show as hex"},
    {"BCD_BYTE (37) - show as hex", "BCD_BYTE (37) - show as hex"},
    {"QWORD (39) - show as hex", "QWORD (39) - show as hex"},
}};

}  // namespace

QString AboutText() {
  return QString("mkpt %1\n%2\n\nReleased under the MIT licence.\nBuilt with Qt %3, running on Qt %4.")
      .arg(MKPT_VERSION, TMainForm::Caption, QT_VERSION_STR, qVersion());
}

void TMainForm::AddMenuOperations() {
  TDispatcher& d = *Dispatcher;
  auto flag = [&d](int code, bool& value) { d.Add(code, [&value] { value = !value; }, [&value] { return value; }); };
  flag(opToggleAnalyzeMaster, Parser.AnalyzeMaster);
  flag(opToggleAnalyzeSlave, Parser.AnalyzeSlave);
  flag(opToggleArrayAlign, Parser.ArrayAlign);
  for (int code = opToggleHexFirst; code <= opToggleHexLast; ++code)
    flag(code, Parser.ShowAsHex[static_cast<std::size_t>(code - opToggleHexFirst)]);
  d.Add(
      opToggleAutoscroll, [this] { Transport.AutoScroll = !Transport.AutoScroll.load(); },
      [this] { return Transport.AutoScroll.load(); });
  d.Add(
      opToggleAutosave,
      [this] {
        AutosaveEnabled = !AutosaveEnabled;
        Transport.Autosave = AutosaveEnabled;
      },
      [this] { return AutosaveEnabled; });
  d.Add(
      opToggleShowTime,
      [this] {
        const bool on = !TerminalLB->Model().ShowTime();
        TerminalLB->Model().SetShowTime(on);
        DecodeTerminalLB->Model().SetShowTime(on);
        Transport.AutosaveTimes = on;
      },
      [this] { return TerminalLB->Model().ShowTime(); });
  d.Add(
      opToggleLineColours,
      [this] {
        const bool on = !TerminalLB->Coloured();
        TerminalLB->SetColoured(on);
        DecodeTerminalLB->SetColoured(on);
      },
      [this] { return TerminalLB->Coloured(); });
  d.Add(opFindInPane, [this] { FindBar->Open(); });
  d.Add(opCopyLines, [this] { FindBar->LastPane()->CopySelection(); });
  d.Add(opAbout, [this] { dialogs_->Information(AboutText()); });
}

void TMainForm::CreateMenus() {
  AddLogTools();
  TerminalPopupMenu = new QMenu(this);
  TerminalPopupMenu->setObjectName("TerminalPopupMenu");
  QStyle* style = this->style();
  auto item = [this](QMenu* menu, const QString& caption, int code, bool main, const QIcon& icon = {}) {
    QAction* action = menu->addAction(icon, caption);
    Dispatcher->Bind(action, code);
    (main ? mainItems_ : popupItems_).push_back(action);
    return action;
  };
  QMenu* terminal = menuBar()->addMenu("Terminal");
  item(terminal, "Save to file", opSaveTerminal, true, style->standardIcon(QStyle::SP_DialogSaveButton));
  terminal->addSeparator();
  item(terminal, "Terminal autosave", opToggleAutosave, true);
  terminal->addSeparator();
  item(terminal, "Clear window", opClearTerminal, true, style->standardIcon(QStyle::SP_DialogResetButton));
  item(terminal, "Autoscroll", opToggleAutoscroll, true);
  // The newer items in a group of their own, before the final "Quit".
  terminal->addSeparator();
  item(terminal, "Show time", opToggleShowTime, true);
  item(terminal, "Find...", opFindInPane, true)->setShortcut(QKeySequence::Find);
  item(terminal, "Colour lines", opToggleLineColours, true);
  item(terminal, "Capture to file...", opToggleCapture, true);
  item(terminal, "Open log...", opOpenLog, true);
  item(terminal, "About", opAbout, true);
  terminal->addSeparator();
  item(terminal, "Quit", opQuit, true, style->standardIcon(QStyle::SP_DialogCloseButton));

  QMenu* analysis = menuBar()->addMenu("Analysis packet");
  item(analysis, "Analize master packets", opToggleAnalyzeMaster, true);
  item(analysis, "Analize slave packets", opToggleAnalyzeSlave, true);
  analysis->addSeparator();
  item(analysis, "Array data align", opToggleArrayAlign, true);
  analysis->addSeparator();
  for (std::size_t i = 0; i < kHexItems.size(); ++i)
    item(analysis, kHexItems[i].first, opToggleHexFirst + static_cast<int>(i), true);
  analysis->addSeparator();
  item(analysis, "Load parse table...", opLoadParseTable, true);

  QMenu* popup = TerminalPopupMenu;
  item(popup, "Terminal autosave", opToggleAutosave, false);
  popup->addSeparator();
  item(popup, "Clear terminal window", opClearTerminal, false);
  item(popup, "Autoscrolling", opToggleAutoscroll, false);
  popup->addSeparator();
  item(popup, "Analize master packets", opToggleAnalyzeMaster, false);
  item(popup, "Analize slave packets", opToggleAnalyzeSlave, false);
  popup->addSeparator();
  item(popup, "Array data align", opToggleArrayAlign, false);
  popup->addSeparator();
  for (std::size_t i = 0; i < kHexItems.size(); ++i)
    item(popup, kHexItems[i].second, opToggleHexFirst + static_cast<int>(i), false);
  popup->addSeparator();
  item(popup, "Show time", opToggleShowTime, false);
  // The keys shown here work in the panes themselves (and Ctrl+F from the main menu).
  for (auto [caption, code, keys] : {std::tuple{"Copy", int{opCopyLines}, QKeySequence(QKeySequence::Copy)},
                                     std::tuple{"Find...", int{opFindInPane}, QKeySequence(QKeySequence::Find)}}) {
    QAction* action = item(popup, caption, code, false);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WidgetShortcut);
  }
  for (TPaneView* pane : {TerminalLB, DecodeTerminalLB})
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint& at) {
      pane->setFocus(Qt::PopupFocusReason);  // the pane that Copy and Find... work on
      TerminalPopupMenu->popup(pane->viewport()->mapToGlobal(at));
    });
}

QAction* TMainForm::MainItem(const QString& caption) const {
  for (QAction* a : mainItems_)
    if (a->text() == caption) return a;
  return nullptr;
}

QAction* TMainForm::PopupItem(const QString& caption) const {
  for (QAction* a : popupItems_)
    if (a->text() == caption) return a;
  return nullptr;
}

void TMainForm::SetTabOrder() {
  // Tab goes through the page in force (the hidden pages are passed over),
  // then the panes, the find bar and the port settings.
  QList<QWidget*> order = MasterPage->TabChain() + SlavePage->TabChain() + RegistersPage->TabChain();
  order << SymbolTerminal << MonitorPage->SecondPortCBox << MonitorPage->PauseCB << MonitorPage->ClearBtn
        << TerminalLB << DecodeTerminalLB << FindBar->Field << FindBar->PreviousBtn << FindBar->NextBtn
        << FindBar->RegexCB << FindBar->CaseCB << FindBar->FilterCB << FindBar->CloseBtn << PortSetupF->PortNumCBox;
  for (qsizetype i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

}  // namespace mkpt
