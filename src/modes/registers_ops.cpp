#include "modes/registers_ops.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "analysis/parser.h"
#include "modes/address.h"
#include "modes/registers_table.h"
#include "modes/write_packet.h"
#include "protocol/transport.h"
#include "text/textcut.h"

namespace mkp {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void ClearResults(TMKPParser* parser) {
  if (parser != nullptr) parser->Results.Clear();
}

// Holds the automaton between steps for the life of the guard, polling the
// hold through the waiter so that the window stays alive meanwhile.
class THold {
public:
  THold(TRegistersAutomat* automat, TWaiter& waiter, milliseconds limit) : automat_(automat) {
    if (automat_ == nullptr) return;
    const auto start = Clock::now();
    while (!(held_ = automat_->Pause(milliseconds(0))) && Clock::now() - start < limit) {
      waiter.Sleep(5);
    }
  }
  ~THold() {
    if (automat_ != nullptr) automat_->Resume();
  }
  THold(const THold&) = delete;
  THold& operator=(const THold&) = delete;
  bool Held() const { return held_; }

private:
  TRegistersAutomat* automat_;
  bool held_ = true;
};

void SleepMs(TWaiter& waiter, std::int32_t milliseconds) {
  if (milliseconds > 0) waiter.Sleep(milliseconds);
}

}  // namespace

void TThreadWaiter::Sleep(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TTransmitResult TransmitRegisters(const TTransmitContext& context, int* packetsSent) {
  if (packetsSent != nullptr) *packetsSent = 0;
  TThreadWaiter threadWaiter;
  TWaiter& waiter = context.Waiter != nullptr ? *context.Waiter : threadWaiter;
  auto show = [&context](const char* text) {
    if (context.ShowStatus) context.ShowStatus(text);
  };
  TRegistersAutomat* automat = context.Automat;

  // Wait for the automaton to be between steps, 2 whole seconds at most.
  const auto start = Clock::now();
  while (automat != nullptr && automat->IsStepInProgress() &&
         std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count() < 2) {
    waiter.Sleep(10);
  }
  if (automat != nullptr && automat->IsStepInProgress()) {
    show(TransmitBusyText);
    return TTransmitResult::Busy;
  }

  show(TransmitProcessingText);
  // The automaton may just have begun its next step: give it the time of one
  // step to reach its safe point, and never write while it is still inside.
  THold hold(automat, waiter, milliseconds(3000));
  if (!hold.Held()) {
    show(TransmitBusyText);
    return TTransmitResult::Busy;
  }
  if (context.Transport == nullptr || context.Model == nullptr || context.Table == nullptr) {
    return TTransmitResult::Done;
  }
  TMKProtocolTransport& transport = *context.Transport;
  const TDeviceModel& model = *context.Model;

  TPacketHolder write;
  TPacketHolder reply;
  SleepMs(waiter, model.RegSendTimeout1);
  for (int i = 0; i < 10; ++i) {
    if (!transport.ReceivePacket(*reply)) break;
    waiter.Sleep(10);
  }

  const int rows = context.Table->RowCount();
  for (int k = 1; k <= rows; ++k) {
    if (Trim(context.Table->NewValue(k)).empty()) continue;
    const std::string writeTemplate = TDeviceModel::ItemText(model.WriteTemplates, k - 1);
    if (writeTemplate.empty()) continue;
    if (!FillWritePacket(writeTemplate, *write, *context.Table)) continue;
    if (!context.DeviceAddress.empty()) ApplyAddressText(context.DeviceAddress, write->DstAddr);
    if (transport.SendPacket(*write) && packetsSent != nullptr) ++*packetsSent;
    SleepMs(waiter, model.RegSendTimeout2);
    ClearResults(context.Parser);
    for (int i = 0; i < 10; ++i) {
      waiter.Sleep(10);
      if (!transport.ReceivePacket(*reply)) break;
    }
    SleepMs(waiter, model.RegSendTimeout3);
  }
  return TTransmitResult::Done;
}

TLoadResult SelectDevice(const std::string& fileName, TDeviceModel& model, TRegistersTable* table,
                         TRegistersAutomat* automat, TWaiter& waiter) {
  if (automat == nullptr) return LoadDeviceDescription(fileName, model);
  THold hold(automat, waiter, milliseconds(5000));
  const TLoadResult loaded = LoadDeviceDescription(fileName, model);
  if (loaded.NothingUsable()) return loaded;  // the device in force stays
  if (table != nullptr) table->LoadNames(model.RegisterNames);
  automat->ReleaseModel();
  automat->PrepareModel();
  automat->CopyModel(model);
  return loaded;
}

std::string DeviceStatusText(const std::string& fileName) {
  std::string text(1, ' ');
  text += std::filesystem::path(fileName).stem().string();
  return text;
}

}  // namespace mkp
