// "Scan bus" of the Registers page: probes each address of a range and lists
// the addresses that answer, with the latency and the answer's decode line.
// The scan runs in a thread of its own (the engine's TBusScan), so the window
// paints and its panes fill while it runs; the Registers automaton holds
// between two steps for the scan and goes on after it. Double-clicking a
// found address (or "Set as device address") makes it the device address.
#pragma once

#include <QDialog>
#include <memory>
#include <string>
#include <vector>

#include "modes/busscan.h"
#include "protocol/packet.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace mkp {
class TMKProtocolTransport;
class TMKPParser;
class TWorkerThread;
}  // namespace mkp

namespace mkpt {

class TScanDialog : public QDialog {
  Q_OBJECT
public:
  explicit TScanDialog(QWidget* parent = nullptr);
  ~TScanDialog() override;

  // What a scan uses: the window's transport and analyser, and the worker
  // that holds while it runs (null: none).
  void SetLine(mkp::TMKProtocolTransport* transport, mkp::TMKPParser* parser, mkp::TWorkerThread* hold);
  // Before each showing: the range becomes the device's address with the
  // last byte 00 to FF, and the probes offered are the description's first
  // request (when it has one) and the default read of register 1. The finds
  // of the last scan stay until the next one.
  void Prepare(const mkp::TVorelAddr& device, const std::string& descriptionProbe);

  bool Scanning() const { return scan_ != nullptr || waiting_; }
  // "Scan": starts a scan of the range as the fields give it; a field that
  // does not read says so in the dialog, and nothing starts.
  void StartScan();
  // "Stop": the scan ends after the address in hand.
  void StopScan();
  // Stops the scan and waits for it (the window's loop runs meanwhile).
  void StopAndWait();
  // The address of a found row, dotted ("1.2.4").
  static QString RowAddress(const QTreeWidgetItem* item);

  QLineEdit* FromEdit = nullptr;
  QLineEdit* ToEdit = nullptr;
  QSpinBox* TimeoutEdit = nullptr;
  QComboBox* ProbeCBox = nullptr;
  QProgressBar* Progress = nullptr;
  QLabel* ProbingLabel = nullptr;  // the address in hand, then the summary
  QTreeWidget* FoundList = nullptr;
  QPushButton* ScanBtn = nullptr;
  QPushButton* StopBtn = nullptr;
  QPushButton* SetAddressBtn = nullptr;
  QPushButton* CloseBtn = nullptr;
  // How long the last scan took, and how many addresses it probed.
  double LastSeconds = 0;
  std::size_t LastScanned = 0;

signals:
  // A found address chosen as the device address, dotted ("1.2.4").
  void AddressChosen(const QString& dotted);

protected:
  void done(int result) override;

private:
  class TWindowScan;
  void Begin();
  void ShowProbe(const mkp::TVorelAddr& address, std::size_t index, std::size_t count);
  void AddFind(const mkp::TScanFind& find);
  // The scan is over (failure: why it ended early, or empty).
  void Ended(const QString& failure = {});
  void ChooseRow(QTreeWidgetItem* item);
  void Tell(const QString& text);
  void UpdateButtons();

  mkp::TMKProtocolTransport* transport_ = nullptr;
  mkp::TMKPParser* parser_ = nullptr;
  mkp::TWorkerThread* hold_ = nullptr;
  std::unique_ptr<mkp::TWorkerThread> scan_;
  TWindowScan* scanView_ = nullptr;  // scan_ as what it is
  QTimer* holdTimer_ = nullptr;       // asks the held worker until it is between steps
  bool waiting_ = false;              // for the held worker
  bool holding_ = false;              // the held worker was asked to hold
  int pendingResult_ = -1;            // a close asked for while scanning
  std::size_t found_ = 0, unexpected_ = 0;
};

}  // namespace mkpt
