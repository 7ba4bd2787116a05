// The find bar under the panes: a text or regular expression looked for in
// the pane that had the focus, Next and Previous through the matching lines,
// their count, and a filter that shows only them.
#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShortcut;
class QToolButton;

namespace mkpt {

class TPaneView;
class TLineMatcher;

class TFindBar : public QWidget {
  Q_OBJECT
public:
  // The panes it may search; it follows the one that has the focus.
  TFindBar(std::array<TPaneView*, 2> panes, QWidget* parent = nullptr);

  // Shows the bar on a pane (null: the pane that had the focus last) and puts
  // the focus in its text field.
  void Open(TPaneView* pane = nullptr);
  // Hides the bar; the pane shows all its lines again, unmarked.
  void Close();
  void Next();
  void Previous();
  TPaneView* Pane() const { return pane_; }
  // The pane that had the focus last (the terminal pane before any had it).
  TPaneView* LastPane() const { return lastFocused_; }
  // Places the bar at the bottom of an area of the given size while it is
  // shown, in two rows when one does not fit the width; returns the height
  // left above it.
  int Place(int width, int height);

  QLabel* PaneLabel = nullptr;
  QLineEdit* Field = nullptr;
  QCheckBox* RegexCB = nullptr;
  QCheckBox* CaseCB = nullptr;
  QCheckBox* FilterCB = nullptr;
  QPushButton* PreviousBtn = nullptr;
  QPushButton* NextBtn = nullptr;
  QLabel* CountLabel = nullptr;
  QToolButton* CloseBtn = nullptr;

signals:
  // Shown or hidden: the owner lays the panes out again.
  void Toggled();

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  std::vector<QWidget*> OneRow() const;
  void PlaceControls(bool twoRows);
  void SetPane(TPaneView* pane);
  void ShowPaneName();
  // The query changed: a new matcher for the pane, and the first match from
  // the current line on.
  void QueryChanged();
  void FilterChanged();
  void ShowCount();
  void Step(bool forward);
  void Detach();

  std::array<TPaneView*, 2> panes_;
  TPaneView* pane_ = nullptr;
  TPaneView* lastFocused_ = nullptr;
  std::shared_ptr<const TLineMatcher> matcher_;
  QPalette fieldPalette_;
  QShortcut* escape_ = nullptr;
  bool twoRows_ = false;
};

}  // namespace mkpt
