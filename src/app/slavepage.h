// The Slave page: the table of received packets and the packets that answer
// them, its four buttons, and the responder that answers from it while the
// mode is Slave.
#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "app/layout.h"
#include "modes/slavetable.h"

class QPushButton;
class QTableView;

namespace mkp {
class TWorkerThread;
}

namespace mkpt {

class TPageHost;

class TSlavePage : public QWidget {
  Q_OBJECT
public:
  explicit TSlavePage(TPageHost& host, QWidget* parent = nullptr);

  // A responder on the host's transport that answers from the table; not
  // started.
  std::unique_ptr<mkp::TWorkerThread> MakeResponder();
  void Measure(TLayoutInput& in) const;
  void Arrange(const TLayout& layout);
  QList<QWidget*> TabChain() const;

  mkp::TSlaveTable Rows;  // the one store of the cells
  QTableView* SlaveTable = nullptr;
  std::array<QPushButton*, 4> SlaveBtns{};
  QPushButton* LearnBtn = nullptr;  // "Learn slave table..."

private:
  int CurrentRow() const;
  void LoadTable();
  void SaveTable();
  // The rows answered in a capture replace the table's (slavelearn.cpp).
  void LearnTable();

  TPageHost& host_;
};

}  // namespace mkpt
