#include "app/capturetool.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStatusBar>
#include <stdexcept>

#include "app/dialogs.h"
#include "app/dispatcher.h"
#include "app/qtext.h"
#include "protocol/transport.h"

namespace mkpt {

namespace {

// File names and the writer's texts about them are the file system's bytes.
QString FromFileSystem(const std::string& text) { return QString::fromLocal8Bit(text); }

}  // namespace

TCaptureTool::TCaptureTool(mkp::TMKProtocolTransport& transport, TDispatcher& dispatcher, TDialogs& dialogs,
                           QStatusBar* bar, QLabel* filePanel, TPortNames portNames, QObject* parent)
    : QObject(parent),
      transport_(transport),
      dispatcher_(dispatcher),
      dialogs_(dialogs),
      filePanel_(filePanel),
      portNames_(std::move(portNames)) {
  CapturePanel = new QLabel(bar);
  CapturePanel->setObjectName("CapturePanel");
  CapturePanel->setFont(filePanel->font());
  CapturePanel->setAlignment(filePanel->alignment());
  CapturePanel->setFrameStyle(filePanel->frameStyle());
  CapturePanel->setMinimumWidth(filePanel->minimumWidth());
  CapturePanel->setAccessibleDescription("Capture file");
  bar->addWidget(CapturePanel, 1);
  CapturePanel->hide();
  // Called under the transport's lock in the thread whose write failed: only
  // hand the news to the window's thread.
  writer_.SetOnFailure([this](const std::string& why) {
    QMetaObject::invokeMethod(this, [this, text = FromFileSystem(why)] { Failed(text); }, Qt::QueuedConnection);
  });
  dispatcher_.Add(opToggleCapture, [this] { Toggle(); }, [this] { return capturing_; });
}

TCaptureTool::~TCaptureTool() { writer_.Close(); }

void TCaptureTool::Toggle() {
  if (capturing_) Stop();
  else Start();
}

void TCaptureTool::Start() {
  const QString file = dialogs_.SaveFile("Capture to file", "Captures (*.pcapng)", "pcapng");
  if (file.isEmpty()) return;
  const auto [first, second] = portNames_();
  if (!writer_.Open(QFile::encodeName(file).toStdString(), {first}, "mkpt"))
    throw std::runtime_error(ToEngine(FromFileSystem(writer_.Error())));
  writer_.SetInterfaceName(2, second);
  transport_.SetFrameTap(&writer_);
  capturing_ = true;
  CapturePanel->setText("Capturing to " + QFileInfo(file).fileName());
  CapturePanel->setToolTip("Every frame sent or received goes to " + file);
  filePanel_->hide();
  CapturePanel->show();
}

void TCaptureTool::Stop() {
  transport_.SetFrameTap(nullptr);  // no frame reaches the writer after this
  writer_.Close();
  capturing_ = false;
  CapturePanel->hide();
  filePanel_->show();
}

void TCaptureTool::SecondPortChanged() {
  if (capturing_) writer_.SetInterfaceName(2, portNames_().second);
}

void TCaptureTool::Failed(const QString& why) {
  if (!capturing_) return;
  Stop();
  dispatcher_.UpdateCheckMarks();
  try {
    transport_.AddTerminalLine(ToEngine("Capture to file stopped: " + why));
  } catch (const std::exception& e) {  // an autosave file that cannot be written
    dispatcher_.ShowError(FromEngine(e.what()));
  }
}

}  // namespace mkpt
