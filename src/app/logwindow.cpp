#include "app/logwindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScreen>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <cmath>
#include <deque>
#include <malloc.h>
#include <stdexcept>
#include <tuple>

#include "analysis/parser.h"
#include "app/dialogs.h"
#include "app/dispatcher.h"
#include "app/findbar.h"
#include "app/layout.h"
#include "app/logpanes.h"
#include "app/qtext.h"

namespace mkpt {

const char* const TLogWindow::FileFilter =
    "Logs and captures (*.pcapng *.pcap *.tr1 *.tr2 *.trm);;Captures (*.pcapng *.pcap);;"
    "Pane files (*.tr1 *.tr2);;Autosave files (*.trm);;All files (*)";

namespace {

QString FromFileSystem(const std::string& text) { return QString::fromLocal8Bit(text); }

QString Count(std::uint64_t n) { return QLocale::system().toString(static_cast<qulonglong>(n)); }

}  // namespace

TLogWindow* TLogWindow::Open(const QString& file, std::unique_ptr<mkp::TMKPParser> parser,
                             std::shared_ptr<TDialogs> dialogs, TOptions options, QWidget* parent) {
  auto loader = std::make_unique<TLogLoader>(std::move(parser));
  if (!loader->Open(QFile::encodeName(file).toStdString()))
    throw std::runtime_error(ToEngine(FromFileSystem(loader->Error())));
  auto* window = new TLogWindow(file, std::move(loader), std::move(dialogs), options, parent);
  window->show();
  return window;
}

TLogWindow::TLogWindow(const QString& file, std::unique_ptr<TLogLoader> loader, std::shared_ptr<TDialogs> dialogs,
                       TOptions options, QWidget* parent)
    : QMainWindow(parent, Qt::Window),
      file_(file),
      cap_(options.PaneCap),
      loader_(std::move(loader)),
      dialogs_(std::move(dialogs)) {
  setObjectName("LogWindow");
  // Real boxes and dialogs come over this window (tests answer through theirs).
  if (dynamic_cast<TQtDialogs*>(dialogs_.get()) != nullptr) dialogs_ = std::make_shared<TQtDialogs>(this);
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);  // the main window alone ends the program
  setWindowTitle(QFileInfo(file).fileName() + " - Log");
  setAccessibleName("Log " + QFileInfo(file).fileName());
  // Wide enough for a decode line with its time and answer delay.
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 1024);
  resize(std::min(1200, room.width() - 40), std::min(720, room.height() - 80));

  Panes = new TLogPanes(this);
  setCentralWidget(Panes);
  for (TPaneView* pane : {Panes->TerminalLB, Panes->DecodeTerminalLB}) {
    pane->Model().SetCap(cap_);
    // Millions of rows are laid out a slice at a time, the window answering
    // in between.
    pane->setLayoutMode(QListView::Batched);
    pane->setBatchSize(20000);
    pane->Model().SetShowTime(options.ShowTime);
    pane->SetColoured(options.Coloured);
  }
  // A decode log has no terminal lines.
  Panes->TerminalLB->setVisible(loader_->Kind() != mkp::TLogFileKind::DecodeLog);
  Panes->installEventFilter(this);  // placed on every resize
  connect(Panes, &TLogPanes::FindBarToggled, this, &TLogWindow::Place);
  connect(Panes, &TLogPanes::SplitMoved, this, [this](double ratio) { splitRatio_ = ratio; });

  StatusLabel = new QLabel(this);
  StatusLabel->setObjectName("LogStatus");
  StatusLabel->setAccessibleDescription("Log status");
  StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Progress = new QProgressBar(this);
  Progress->setObjectName("LogProgress");
  Progress->setAccessibleName("Loading progress");
  Progress->setRange(0, loader_->Size() > 0 ? 1000 : 0);  // a file of unknown size: busy
  Progress->setMaximumWidth(220);
  CancelBtn = new QPushButton("Cancel", this);
  CancelBtn->setObjectName("LogCancelBtn");
  CancelBtn->setAccessibleDescription("Stop loading the file; the lines read so far stay");
  connect(CancelBtn, &QPushButton::clicked, this, &TLogWindow::CancelLoading);
  statusBar()->addWidget(StatusLabel, 1);
  statusBar()->addPermanentWidget(Progress);
  statusBar()->addPermanentWidget(CancelBtn);
  StatusLabel->setText("Loading " + QFileInfo(file).fileName() + "...");

  Dispatcher = new TDispatcher(*dialogs_, this);
  CreateMenus();

  timer_ = new QTimer(this);
  timer_->setInterval(30);
  connect(timer_, &QTimer::timeout, this, &TLogWindow::Drain);
  loader_->Start();
  timer_->start();
  sinceShown_.start();
}

TLogWindow::~TLogWindow() {
  loader_.reset();  // cancels and waits for the reading
  // The lines of a big log go back to the system with the window (the
  // children are freed after this body: later).
  QTimer::singleShot(0, [] { malloc_trim(0); });
}

void TLogWindow::CreateMenus() {
  TDispatcher& d = *Dispatcher;
  TPaneView* terminal = Panes->TerminalLB;
  TPaneView* decode = Panes->DecodeTerminalLB;
  d.Add(opSaveTerminal, [this] { SaveToFile(); });
  d.Add(
      opToggleShowTime,
      [terminal, decode] {
        const bool on = !decode->Model().ShowTime();
        terminal->Model().SetShowTime(on);
        decode->Model().SetShowTime(on);
      },
      [decode] { return decode->Model().ShowTime(); });
  d.Add(
      opToggleLineColours,
      [terminal, decode] {
        const bool on = !decode->Coloured();
        terminal->SetColoured(on);
        decode->SetColoured(on);
      },
      [decode] { return decode->Coloured(); });
  d.Add(opFindInPane, [this] { Panes->FindBar->Open(); });
  d.Add(opCopyLines, [this] { Panes->FindBar->LastPane()->CopySelection(); });
  d.Add(opQuit, [this] { close(); });

  auto item = [this](QMenu* menu, const QString& caption, int code, const QKeySequence& keys = {}) {
    QAction* action = menu->addAction(caption);
    Dispatcher->Bind(action, code);
    action->setShortcut(keys);
    items_.push_back(action);
    return action;
  };
  QMenu* log = menuBar()->addMenu("Log");
  item(log, "Save to file", opSaveTerminal, QKeySequence::Save)->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  log->addSeparator();
  item(log, "Show time", opToggleShowTime);
  item(log, "Find...", opFindInPane, QKeySequence::Find);
  item(log, "Colour lines", opToggleLineColours);
  log->addSeparator();
  item(log, "Close", opQuit, QKeySequence::Close)->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("LogPopupMenu");
  // Copy and Find... work in the pane itself with their keys.
  for (auto [caption, code, keys] : {std::tuple{"Copy", int{opCopyLines}, QKeySequence(QKeySequence::Copy)},
                                     std::tuple{"Find...", int{opFindInPane}, QKeySequence(QKeySequence::Find)}})
    item(PopupMenu, caption, code, keys)->setShortcutContext(Qt::WidgetShortcut);
  PopupMenu->addSeparator();
  item(PopupMenu, "Show time", opToggleShowTime);
  item(PopupMenu, "Colour lines", opToggleLineColours);
  PopupMenu->addSeparator();
  item(PopupMenu, "Save to file", opSaveTerminal);
  for (TPaneView* pane : {terminal, decode})
    connect(pane, &QWidget::customContextMenuRequested, this, [this, pane](const QPoint& at) {
      pane->setFocus(Qt::PopupFocusReason);
      PopupMenu->popup(pane->viewport()->mapToGlobal(at));
    });
  Item("Save to file")->setEnabled(false);  // once the file is read
}

QAction* TLogWindow::Item(const QString& caption) const {
  for (QAction* a : items_)
    if (a->text() == caption) return a;
  return nullptr;
}

bool TLogWindow::Loading() const { return !finished_; }

void TLogWindow::CancelLoading() {
  if (finished_) return;
  loader_->Cancel();
  CancelBtn->setEnabled(false);
}

namespace {

// Up to `count` lines from the front of the waiting ones.
std::vector<mkp::TPaneLine> TakeFront(std::deque<mkp::TPaneLine>& waiting, std::size_t count) {
  count = std::min(count, waiting.size());
  std::vector<mkp::TPaneLine> lines(std::make_move_iterator(waiting.begin()),
                                    std::make_move_iterator(waiting.begin() + static_cast<std::ptrdiff_t>(count)));
  waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(count));
  return lines;
}

}  // namespace

void TLogWindow::Drain() {
  if (finished_) return;
  const TLogLoader::TState state = loader_->State();  // before the last batches are taken
  // Taken only while few wait here: the loader then waits too, and the lines
  // of a big file never pile up between the two.
  const std::size_t shown = Panes->DecodeTerminalLB->Model().Lines().size();
  const std::size_t threshold = std::max(TLogLoader::BatchEntries, shown / 4);
  if (std::max(pendingTerminal_.size(), pendingDecode_.size()) < threshold + MaxAppend)
    for (TLogLoader::TBatch& batch : loader_->Take()) {
      entries_ += batch.Entries;
      for (auto [from, to] : {std::pair{&batch.Terminal, &pendingTerminal_}, std::pair{&batch.Decode, &pendingDecode_}})
        to->insert(to->end(), std::make_move_iterator(from->begin()), std::make_move_iterator(from->end()));
    }
  // A view lays all its rows out anew whenever their number changes: the
  // lines go in at once after the first ones, once they are a quarter of what
  // the panes show or have waited a while, so that a big file is laid out a
  // few dozen times rather than at every tick; and no more a tick than the window
  // takes in some 20 ms, so that it answers in between.
  const std::size_t waiting = std::max(pendingTerminal_.size(), pendingDecode_.size());
  flushing_ = waiting > 0 && (flushing_ || state != TLogLoader::TState::Loading || waiting >= threshold ||
                              sinceShown_.hasExpired(1000));
  if (flushing_) {
    if (firstLines_ && !loader_->Timed() && !pendingDecode_.empty() &&
        pendingDecode_.front().Shown.Time != mkp::TMonoTime{} && !Dispatcher->Checked(opToggleShowTime))
      Dispatcher->Run(opToggleShowTime);  // a log written with its times shows them
    firstLines_ = false;
    QElapsedTimer took;
    took.start();
    Panes->TerminalLB->Append(TakeFront(pendingTerminal_, chunk_), false);
    Panes->DecodeTerminalLB->Append(TakeFront(pendingDecode_, chunk_), false);
    // Finding costs per line: the chunk follows what a tick may take.
    if (took.elapsed() > 40) chunk_ = std::max<std::size_t>(chunk_ / 2, 1024);
    else if (took.elapsed() < 10) chunk_ = std::min(chunk_ * 2, MaxAppend);
    sinceShown_.start();
  }
  if (state == TLogLoader::TState::Loading || !pendingTerminal_.empty() || !pendingDecode_.empty()) ShowProgress();
  else Finished(state);
}

void TLogWindow::ShowProgress() {
  const std::uint64_t size = loader_->Size();
  if (size > 0)
    Progress->setValue(static_cast<int>(std::min<std::uint64_t>(1000, loader_->Position() * 1000 / size)));
  const bool capture = loader_->Kind() == mkp::TLogFileKind::Capture;
  StatusLabel->setText(QString("Loading %1: %2 %3...")
                           .arg(QFileInfo(file_).fileName(), Count(entries_), capture ? "frames" : "lines"));
}

QString TLogWindow::CapNote() const {
  std::uint64_t gone = 0;
  for (TPaneView* pane : {Panes->TerminalLB, Panes->DecodeTerminalLB})
    gone = std::max<std::uint64_t>(gone, pane->Model().Taken() - pane->Model().Lines().size());
  if (gone == 0) return {};
  return QString(" A pane keeps the last %1 lines: the first %2 are not shown.").arg(Count(cap_), Count(gone));
}

void TLogWindow::Finished(TLogLoader::TState state) {
  finished_ = true;
  timer_->stop();
  Progress->hide();
  CancelBtn->hide();
  Item("Save to file")->setEnabled(true);
  const bool capture = loader_->Kind() == mkp::TLogFileKind::Capture;
  const QString counted = Count(entries_) + (capture ? " frames" : " lines");
  const QString error = FromFileSystem(loader_->Error());
  QString text;
  switch (state) {
    case TLogLoader::TState::Cancelled: text = "Loading cancelled: " + counted + " read."; break;
    case TLogLoader::TState::Failed: text = error + " (" + counted + " read)."; break;
    default: text = counted + "."; break;
  }
  StatusLabel->setText(text + CapNote());
  StatusLabel->setToolTip(file_);
  if (state == TLogLoader::TState::Failed) {  // in red that reads on a light or a dark window
    QPalette palette = StatusLabel->palette();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    palette.setColor(QPalette::WindowText, dark ? QColor(0xFF, 0x8A, 0x80) : QColor(0xB0, 0x10, 0x10));
    StatusLabel->setPalette(palette);
  }
  // A file that held nothing readable: said in a box, and no window.
  if (state == TLogLoader::TState::Failed && entries_ == 0) {
    dialogs_->Error(error);
    close();
  }
}

void TLogWindow::SaveToFile() {
  const QString chosen =
      dialogs_->SaveFile("Save terminal data to file", "terminal files (*.dmp);;all files (*)", "dmp");
  if (chosen.isEmpty()) return;
  // A decode log has no terminal pane to write (nor to overwrite a file with).
  Panes->Save(chosen, !Panes->TerminalLB->isHidden());
}

void TLogWindow::closeEvent(QCloseEvent* event) {
  loader_->Cancel();
  QMainWindow::closeEvent(event);
}

bool TLogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panes && event->type() == QEvent::Resize) Place();
  return QMainWindow::eventFilter(watched, event);
}

void TLogWindow::Place() {
  const int width = Panes->width(), height = Panes->height();
  if (Panes->TerminalLB->isHidden()) {
    Panes->Place(width, height, 0, width);
    return;
  }
  const int panes = width - Panes->Splitter->handleWidth();
  const int terminal = static_cast<int>(std::lround(panes * splitRatio_));
  Panes->Place(width, height, terminal, panes - terminal);
}

}  // namespace mkpt
