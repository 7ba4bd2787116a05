#include "app/logpanes.h"

#include <QFileInfo>
#include <QSplitter>
#include <fstream>
#include <stdexcept>

#include "app/findbar.h"
#include "app/layout.h"
#include "text/cp1251.h"

namespace mkpt {

TLogPanes::TLogPanes(QWidget* parent) : QWidget(parent) {
  setObjectName("TerminalPanel");
  Splitter = new QSplitter(Qt::Horizontal, this);
  Splitter->setObjectName("TerminalSplitter");
  Splitter->setHandleWidth(4);
  Splitter->setChildrenCollapsible(false);
  Splitter->setOpaqueResize(true);
  TerminalLB = new TPaneView(Splitter);
  TerminalLB->setObjectName("TerminalLB");
  TerminalLB->setAccessibleName("Terminal log");
  DecodeTerminalLB = new TPaneView(Splitter);
  DecodeTerminalLB->setObjectName("DecodeTerminalLB");
  DecodeTerminalLB->setAccessibleName("Decode log");
  FindBar = new TFindBar({TerminalLB, DecodeTerminalLB}, this);
  connect(FindBar, &TFindBar::Toggled, this, &TLogPanes::FindBarToggled);
  connect(Splitter, &QSplitter::splitterMoved, this, [this] {
    const QList<int> sizes = Splitter->sizes();
    if (sizes.size() == 2) emit SplitMoved(SplitRatioOf(sizes[0], sizes[1]));
  });
}

void TLogPanes::Drain(bool autoScroll) {
  for (auto [feed, pane] : {std::pair{&terminalFeed_, TerminalLB}, std::pair{&decodeFeed_, DecodeTerminalLB}}) {
    std::uint64_t dropped = 0;
    auto lines = feed->Take(&dropped);
    if (!lines.empty() || dropped != 0) pane->Append(std::move(lines), autoScroll, dropped);
  }
}

void TLogPanes::Clear() {
  for (TPaneFeed* feed : {&terminalFeed_, &decodeFeed_}) feed->Take();
  TerminalLB->Model().Clear();
  DecodeTerminalLB->Model().Clear();
}

void TLogPanes::Save(const QString& chosen, bool withTerminal) {
  QString base = chosen;
  const QFileInfo info(chosen);
  if (!info.suffix().isEmpty() || info.fileName().endsWith('.'))
    base.chop(info.fileName().size() - info.fileName().lastIndexOf('.'));
  for (const auto& [pane, extension] : {std::pair{TerminalLB, ".tr1"}, std::pair{DecodeTerminalLB, ".tr2"}}) {
    if (pane == TerminalLB && !withTerminal) continue;
    const std::string name = (base + extension).toStdString();
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    const std::string text = pane->Model().Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + mkp::Utf8ToCp1251(name));
  }
}

void TLogPanes::Place(int width, int height, int terminalWidth, int decodeWidth) {
  const int paneHeight = FindBar->Place(width, height);  // the find bar below
  Splitter->setGeometry(0, 0, width, paneHeight);
  Splitter->setSizes({terminalWidth, decodeWidth});
}

}  // namespace mkpt
