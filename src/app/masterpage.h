// The Master page: the header and data block typed as hex text, their
// checksums and the full packet, Send and Receive, and the automatic repeat.
// The page's operations go into the dispatcher's table; its exchanges go
// through the transport while the window waits.
#pragma once

#include <QWidget>

#include "app/layout.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace mkpt {

class TPageHost;

class TMasterPage : public QWidget {
  Q_OBJECT
public:
  explicit TMasterPage(TPageHost& host, QWidget* parent = nullptr);

  // The sizes of the page's controls that the layout takes as given.
  void Measure(TLayoutInput& in) const;
  // Places the controls from the window's layout.
  void Arrange(const TLayout& layout);
  // The page's controls in the order of Tab.
  QList<QWidget*> TabChain() const;

  QFrame* OutboxPanel = nullptr;
  QLineEdit* HdrTextLE = nullptr;
  QLabel* HdrCSPanel = nullptr;
  QLineEdit* BodyTextLE = nullptr;
  QLabel* BodyCSPanel = nullptr;
  QLineEdit* AllPacketTextLE = nullptr;
  QPushButton* SendBtn = nullptr;
  QPushButton* ReceiveBtn = nullptr;
  QCheckBox* AutoCB = nullptr;
  QLineEdit* AutoIntervalEdit = nullptr;
  QTimer* AutoTimer = nullptr;

private:
  void HeaderOrDataEdited(bool header);
  void SendPacket();
  void ReceivePacket();
  void OnAutoClicked();
  void OnAutoIntervalChanged();
  void OnAutoTimer();

  TPageHost& host_;
};

}  // namespace mkpt
