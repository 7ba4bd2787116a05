#include "app/panecolour.h"

#include <QApplication>
#include <QPainter>
#include <cmath>

#include "app/panes.h"
#include "app/qtext.h"

namespace mkpt {

namespace {

double Luminance(const QColor& c) {
  auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// A colour of the given hue that stands out on the base colour: dark on a
// light base, light on a dark one, lightness moved until the contrast holds.
QColor Readable(int hue, int saturation, const QColor& base) {
  const bool darkBase = Luminance(base) < 0.25;
  int lightness = darkBase ? 170 : 90;
  QColor c = QColor::fromHsl(hue, saturation, lightness);
  while (Contrast(c, base) < 4.5 && lightness > 0 && lightness < 255) {
    lightness += darkBase ? 5 : -5;
    c = QColor::fromHsl(hue, saturation, std::clamp(lightness, 0, 255));
  }
  return c;
}

}  // namespace

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor TPaneColours::For(TLineKind kind) const {
  switch (kind) {
    case TLineKind::Sent: return Sent;
    case TLineKind::Received: return Received;
    case TLineKind::Message: break;
  }
  return Message;
}

TPaneColours PaneColoursFor(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  TPaneColours c;
  int linkHue = palette.color(QPalette::Link).hslHue();
  if (linkHue < 0 || std::abs(linkHue - 120) < 40 || linkHue < 30 || linkHue > 330) linkHue = 220;
  c.Sent = Readable(linkHue, 200, base);
  c.Received = Readable(130, 200, base);
  c.Message = Readable(0, 210, base);
  // The find marks: dark text on amber, which stands out on a light base, a
  // dark one and the selection alike.
  c.Match = Luminance(base) < 0.25 ? QColor::fromHsl(45, 255, 150) : QColor::fromHsl(50, 255, 165);
  c.MatchText = Qt::black;
  return c;
}

void TPaneDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString text = opt.text;
  const QWidget* widget = opt.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
  opt.text.clear();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);  // background, selection, focus

  const auto* model = qobject_cast<const TPaneModel*>(index.model());
  if (!model) return;
  if (paletteKey_ != opt.palette.cacheKey()) {
    colours_ = PaneColoursFor(opt.palette);
    paletteKey_ = opt.palette.cacheKey();
  }
  const bool selected = opt.state & QStyle::State_Selected;
  const QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
  const std::size_t line = model->LineOfRow(index.row());
  QColor pen = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
  if (Coloured && !selected) pen = colours_.For(KindOfLine(model->Lines()[line].Text));

  const QFontMetrics metrics(opt.font);
  painter->save();
  painter->setFont(opt.font);
  painter->setClipRect(opt.rect);
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  painter->setPen(pen);
  painter->drawText(textRect, flags, text);
  if (const TLineMatcher* matcher = model->Matcher()) {
    // Each found piece: its mark, and the line drawn once more over it in
    // the mark's text colour.
    const QByteArray utf8 = text.toUtf8();
    painter->setPen(colours_.MatchText);
    for (const auto& [at, length] : matcher->Spans(std::string_view(utf8.constData(), utf8.size()))) {
      const int from = QString::fromUtf8(utf8.constData(), static_cast<qsizetype>(at)).size();
      const int count = QString::fromUtf8(utf8.constData() + at, static_cast<qsizetype>(length)).size();
      const int x = textRect.left() + metrics.horizontalAdvance(text.left(from));
      const int width = metrics.horizontalAdvance(text.mid(from, count));
      const QRect mark(x, opt.rect.top(), width, opt.rect.height());
      painter->save();
      painter->setClipRect(mark);
      painter->fillRect(mark, colours_.Match);
      painter->drawText(textRect, flags, text);
      painter->restore();
    }
  }
  painter->restore();
}

}  // namespace mkpt
