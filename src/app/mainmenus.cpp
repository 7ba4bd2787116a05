// The main menu and the panes' pop-up menu, their check marks, the pane
// tools that the menus start (find, copy, line colours, the About box), and
// the keyboard: the order of Tab, the keys of Send and Receive, and the names
// a screen reader gives the controls.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <tuple>

#include "app/portframe.h"

#include "app/findbar.h"
#include "app/monitorpage.h"
#include "app/mainform.h"

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

void TMainForm::CreateMenus() {
  TerminalPopupMenu = new QMenu(this);
  TerminalPopupMenu->setObjectName("TerminalPopupMenu");
  QStyle* style = this->style();
  auto item = [this](QMenu* menu, const QString& caption, int code, bool checkable, bool main,
                     const QIcon& icon = {}) {
    QAction* action = menu->addAction(icon, caption);
    action->setCheckable(checkable);
    action->setData(code);
    connect(action, &QAction::triggered, this, [this, code] { RunOperation(code); });
    (main ? mainItems_ : popupItems_).push_back(action);
    return action;
  };
  QMenu* terminal = menuBar()->addMenu("Terminal");
  item(terminal, "Save to file", opSaveTerminal, false, true, style->standardIcon(QStyle::SP_DialogSaveButton));
  terminal->addSeparator();
  item(terminal, "Terminal autosave", opToggleAutosave, true, true);
  terminal->addSeparator();
  item(terminal, "Clear window", opClearTerminal, false, true, style->standardIcon(QStyle::SP_DialogResetButton));
  item(terminal, "Autoscroll", opToggleAutoscroll, true, true);
  terminal->addSeparator();
  item(terminal, "Quit", opQuit, false, true, style->standardIcon(QStyle::SP_DialogCloseButton));
  item(terminal, "Show time", opToggleShowTime, true, true);
  // The pane tools, after the items of the first version.
  terminal->addSeparator();
  item(terminal, "Find...", opFindInPane, false, true)->setShortcut(QKeySequence::Find);
  item(terminal, "Colour lines", opToggleLineColours, true, true);
  item(terminal, "About", opAbout, false, true);

  QMenu* analysis = menuBar()->addMenu("Analysis packet");
  item(analysis, "Analize master packets", opToggleAnalyzeMaster, true, true);
  item(analysis, "Analize slave packets", opToggleAnalyzeSlave, true, true);
  analysis->addSeparator();
  item(analysis, "Array data align", opToggleArrayAlign, true, true);
  analysis->addSeparator();
  for (std::size_t i = 0; i < kHexItems.size(); ++i)
    item(analysis, kHexItems[i].first, opToggleHexFirst + static_cast<int>(i), true, true);
  analysis->addSeparator();
  item(analysis, "Load parse table...", opLoadParseTable, false, true);

  QMenu* popup = TerminalPopupMenu;
  item(popup, "Terminal autosave", opToggleAutosave, true, false);
  popup->addSeparator();
  item(popup, "Clear terminal window", opClearTerminal, false, false);
  item(popup, "Autoscrolling", opToggleAutoscroll, true, false);
  popup->addSeparator();
  item(popup, "Analize master packets", opToggleAnalyzeMaster, true, false);
  item(popup, "Analize slave packets", opToggleAnalyzeSlave, true, false);
  popup->addSeparator();
  item(popup, "Array data align", opToggleArrayAlign, true, false);
  popup->addSeparator();
  for (std::size_t i = 0; i < kHexItems.size(); ++i)
    item(popup, kHexItems[i].second, opToggleHexFirst + static_cast<int>(i), true, false);
  item(popup, "Show time", opToggleShowTime, true, false);
  popup->addSeparator();
  // The keys shown here work in the panes themselves (and Ctrl+F from the main menu).
  for (auto [caption, code, keys] : {std::tuple{"Copy", int{opCopyLines}, QKeySequence(QKeySequence::Copy)},
                                     std::tuple{"Find...", int{opFindInPane}, QKeySequence(QKeySequence::Find)}}) {
    QAction* action = item(popup, caption, code, false, false);
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

void TMainForm::UpdateCheckMarks() {
  auto stateOf = [this](int code) {
    switch (code) {
      case opToggleAutosave: return AutosaveEnabled;
      case opToggleAutoscroll: return Transport.AutoScroll.load();
      case opToggleAnalyzeMaster: return Parser.AnalyzeMaster;
      case opToggleAnalyzeSlave: return Parser.AnalyzeSlave;
      case opToggleArrayAlign: return Parser.ArrayAlign;
      case opToggleLineColours: return TerminalLB->Coloured();
      case opToggleShowTime: return TerminalLB->Model().ShowTime();
      default:
        if (code >= opToggleHexFirst && code <= opToggleHexLast)
          return Parser.ShowAsHex[static_cast<std::size_t>(code - opToggleHexFirst)];
        return false;
    }
  };
  for (const auto* items : {&mainItems_, &popupItems_})
    for (QAction* a : *items)
      if (a->isCheckable()) a->setChecked(stateOf(a->data().toInt()));
}

void TMainForm::SetUpKeyboard() {
  SendBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
  new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), SendBtn, SendBtn, &QPushButton::animateClick);
  SendBtn->setToolTip("Send the full packet (Ctrl+Enter)");
  ReceiveBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  ReceiveBtn->setToolTip("Wait for one reply (Ctrl+R)");

  // Tab goes from the page tabs through the page in force, then the panes, the find bar and
  // the port settings; in the grids the arrow keys move between cells.
  SlaveTable->setTabKeyNavigation(false);
  RegistersTable->setTabKeyNavigation(false);
  const std::vector<QWidget*> order = {
      HdrTextLE, BodyTextLE, AllPacketTextLE, SendBtn, ReceiveBtn, AutoCB, AutoIntervalEdit,
      SlaveBtns[0], SlaveBtns[1], SlaveBtns[2], SlaveBtns[3], SlaveTable,
      RegistersBtns[0], RegistersBtns[2], RegistersBtns[1], RegistersTable,
      SymbolTerminal, MonitorPage->SecondPortCBox, MonitorPage->PauseCB, MonitorPage->ClearBtn, TerminalLB, DecodeTerminalLB, FindBar->Field, FindBar->PreviousBtn, FindBar->NextBtn,
      FindBar->RegexCB, FindBar->CaseCB, FindBar->FilterCB, FindBar->CloseBtn, PortSetupF->PortNumCBox};
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

  ModePageControl->setAccessibleName("Mode pages");
  HdrCSPanel->setAccessibleName("Header checksum");
  BodyCSPanel->setAccessibleName("Data block checksum");
  SlaveTable->setAccessibleName("Slave table");
  RegistersTable->setAccessibleName("Registers table");
  SymbolTerminal->setAccessibleName("Free text");
  const char* panels[] = {"Time", "Mode", "Port state", "File"};
  for (std::size_t i = 0; i < StatusPanels.size(); ++i) StatusPanels[i]->setAccessibleName(panels[i]);
}

void TMainForm::RunPaneTool(int code) {
  switch (code) {
    case opFindInPane: FindBar->Open(); break;
    case opCopyLines: FindBar->LastPane()->CopySelection(); break;
    case opToggleLineColours: {
      const bool on = !TerminalLB->Coloured();
      TerminalLB->SetColoured(on);
      DecodeTerminalLB->SetColoured(on);
      UpdateCheckMarks();
      break;
    }
    case opAbout: dialogs_->Information(AboutText()); break;
    default: break;  // codes outside the table do nothing
  }
}

}  // namespace mkpt
