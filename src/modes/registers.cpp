#include "modes/registers.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "analysis/parser.h"
#include "modes/address.h"
#include "modes/named_event.h"
#include "modes/write_packet.h"
#include "modes/registers_table.h"
#include "protocol/transport.h"
#include "serial/line.h"
#include "text/textcut.h"

namespace mkp {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest stretch of a pause between steps without a safe point, so that
// a pause request is answered quickly even during a long cycle delay.
constexpr milliseconds PauseSlice{20};
// The wait between checks while the model has no requests.
constexpr milliseconds IdleWait{50};

std::vector<std::string> ResultTexts(const TMKPParser* parser) {
  std::vector<std::string> texts;
  if (parser == nullptr) return texts;
  for (const TParamItem& item : parser->Results.Items()) texts.push_back(item.Text);
  return texts;
}

void ClearResults(TMKPParser* parser) {
  if (parser != nullptr) parser->Results.Clear();
}

}  // namespace

// ---- TRegistersAutomat ------------------------------------------------------

TRegistersAutomat::TRegistersAutomat() = default;

TRegistersAutomat::~TRegistersAutomat() { ReleaseModel(); }

void TRegistersAutomat::PrepareModel() {
  ReleaseModel();
  std::lock_guard guard(modelLock_);
  registerNames_ = std::make_unique<TParamList>();
  requests_ = std::make_unique<TParamList>();
  requestRows_ = std::make_unique<TParamList>();
  requestSaves_ = std::make_unique<TParamList>();
  StepDelay = DefaultStepDelay;
  CycleDelay = DefaultCycleDelay;
  targetAddress_ = NoTargetAddress;
  stepEventName_ = MakeStepEventName();
  CreateNamedEvent(stepEventName_);
  ++generation_;
}

void TRegistersAutomat::ReleaseModel() {
  std::lock_guard guard(modelLock_);
  registerNames_.reset();
  requests_.reset();
  requestRows_.reset();
  requestSaves_.reset();
  if (!stepEventName_.empty()) ReleaseNamedEvent(stepEventName_);
  stepEventName_.clear();
}

void TRegistersAutomat::CopyModel(const TDeviceModel& model) {
  if (stats_ != nullptr) {
    std::vector<std::string> texts;
    for (int i = 0; i < model.Requests.Count(); ++i) texts.push_back(TDeviceModel::ItemText(model.Requests, i));
    stats_->Reset(texts);
  }
  {
    std::lock_guard guard(modelLock_);
    model.RegisterNames.CopyTo(registerNames_);
    model.Requests.CopyTo(requests_);
    model.RequestRows.CopyTo(requestRows_);
    model.RequestSaves.CopyTo(requestSaves_);
    ++generation_;
  }
  if (model.OneStepDelay != DelayUnset) StepDelay = std::max(model.OneStepDelay, 0);
  if (model.OneCycleDelay != DelayUnset) CycleDelay = std::max(model.OneCycleDelay, 0);
}

void TRegistersAutomat::SetTables(TRegistersTable* table) {
  std::lock_guard guard(modelLock_);
  table_ = table;
}

void TRegistersAutomat::SetTargetAddress(const std::string& address) {
  std::lock_guard guard(modelLock_);
  targetAddress_ = address.substr(0, 255);
}

std::string TRegistersAutomat::TargetAddress() const {
  std::lock_guard guard(modelLock_);
  return targetAddress_;
}

bool TRegistersAutomat::RequestTextToPacket(std::string_view text, TMKPPacket& packet) const {
  const bool result = TextToPacket(text, packet);
  const std::string target = TargetAddress();
  if (target != NoTargetAddress) ApplyAddressText(target, packet.DstAddr);
  return result;
}

void TRegistersAutomat::SetObservers(TRegistersStats* stats, TValueHistory* history) {
  stats_ = stats;
  history_ = history;
}

void TRegistersAutomat::SetOnCycle(std::function<void()> onCycle) { onCycle_ = std::move(onCycle); }

std::string TRegistersAutomat::StepEventName() const {
  std::lock_guard guard(modelLock_);
  return stepEventName_;
}

bool TRegistersAutomat::IsStepInProgress() const {
  const std::string name = StepEventName();
  return !name.empty() && IsNamedEventSet(name);
}

int TRegistersAutomat::RequestCount() const {
  std::lock_guard guard(modelLock_);
  return requests_ ? requests_->Count() : 0;
}

void TRegistersAutomat::ReportFault(const std::string& key, const std::string& line) {
  if (faults_.insert(key).second && Transport != nullptr) Transport->AddTerminalLine(line);
}

void TRegistersAutomat::ClearFault(const std::string& key) { faults_.erase(key); }

bool TRegistersAutomat::PauseBetweenSteps(std::int32_t milliseconds) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  for (;;) {
    if (!SafePoint()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) return true;
    if (!SleepFor(std::min<std::chrono::milliseconds>(
            PauseSlice, std::chrono::ceil<std::chrono::milliseconds>(left)))) {
      return false;
    }
  }
}

void TRegistersAutomat::Execute() {
  try {
    stepIndex_ = 0;
    std::uint64_t generation = 0;
    for (;;) {
      TStep step;
      bool haveStep = false;
      {
        std::lock_guard guard(modelLock_);
        if (generation != generation_) {
          // A new model: start again at its first request.
          generation = generation_;
          stepIndex_ = 0;
          faults_.clear();
        }
        const int count = requests_ ? requests_->Count() : 0;
        if (count > 0) {
          if (stepIndex_ >= count) stepIndex_ = 0;
          step.Request = TDeviceModel::ItemText(*requests_, stepIndex_);
          step.Rows = requestRows_ ? TDeviceModel::ItemText(*requestRows_, stepIndex_) : "";
          step.Saves = requestSaves_ ? TDeviceModel::ItemText(*requestSaves_, stepIndex_) : "";
          step.EventName = stepEventName_;
          step.Table = table_;
          haveStep = true;
        }
      }
      if (haveStep && RunStep(step) && onCycle_) onCycle_();
      if (Terminated()) return;
      std::int32_t delay = stepIndex_ != 0 ? StepDelay.load() : CycleDelay.load();
      if (!haveStep) delay = std::max<std::int32_t>(delay, IdleWait.count());
      if (!PauseBetweenSteps(delay)) return;
    }
  } catch (const EThreadMustTerminate&) {
    // A stop was requested in the middle of a step.
  } catch (const std::exception& e) {
    // An error no step can handle (an autosave file that cannot be written,
    // for instance) ends the automaton: the pane says so, and the owner gets
    // the exception.
    if (Transport != nullptr) {
      try {
        Transport->AddTerminalLine(std::string("Registers automaton stopped: ") + e.what());
      } catch (...) {
      }
    }
    throw;
  }
}

bool TRegistersAutomat::RunStep(const TStep& step) {
  SetNamedEvent(step.EventName);
  struct TStepEnd {
    const std::string& Name;
    ~TStepEnd() { ResetNamedEvent(Name); }
  } stepEnd{step.EventName};

  TPacketHolder request;
  TPacketHolder reply;
  if (Terminated()) throw EThreadMustTerminate();
  if (Transport == nullptr) return false;
  ClearResults(Parser);
  const int index = stepIndex_;
  // How the exchange ended, for the statistics (nothing when nothing was sent).
  std::optional<TStepOutcome> outcome;
  std::optional<double> responseMs;
  struct TRecord {
    TRegistersStats* Stats;
    const int& Index;
    std::optional<TStepOutcome>& Outcome;
    std::optional<double>& ResponseMs;
    ~TRecord() {
      if (Stats != nullptr && Outcome) Stats->Record(Index, *Outcome, ResponseMs);
    }
  } record{stats_, index, outcome, responseMs};
  try {
    if (!RequestTextToPacket(step.Request, *request)) throw ERegistersModeError();
    TMonoTime written{};
    const bool sent = Transport->SendPacket(*request, &written);
    outcome = sent ? TStepOutcome::NoAnswer : TStepOutcome::WriteFailed;
    // The fixed wait before the answer is read; the answer's bytes keep the
    // time they arrived meanwhile.
    if (!SleepFor(milliseconds(ReplyWaitMs))) {
      outcome.reset();  // a stop is no outcome of the exchange
      throw EThreadMustTerminate();
    }
    ClearResults(Parser);
    TAnswer answer;
    try {
      answer = AwaitAnswer(*request, *reply);
    } catch (const EThreadMustTerminate&) {
      outcome.reset();
      throw;
    }
    if (stats_ != nullptr && answer.OtherTraffic > 0) stats_->RecordOtherTraffic(index, answer.OtherTraffic);
    if (!answer.Time) {
      if (sent && answer.BadBytes) outcome = TStepOutcome::BadFrame;
      throw ERegistersModeError();
    }
    if (sent) outcome = TStepOutcome::WrongAnswer;
    if (reply->Command != CmdAnswer || reply->DataType != request->DataType) {
      throw ERegistersModeError();
    }
    // The answer repeats the request's first data byte (its register). A
    // request without data has nothing to compare.
    if (request->DataLen > 0 && (reply->DataLen == 0 || reply->Data[0] != request->Data[0])) {
      throw ERegistersModeError();
    }
    if (sent) {
      outcome = TStepOutcome::Answered;
      responseMs = std::chrono::duration<double, std::milli>(*answer.Time - written).count();
    }
    DistributeValues(step.Rows, step.Table, answer.Values);
    RunSaveCommands(step.Saves, answer.Values);
    const int count = RequestCount();
    ++stepIndex_;
    if (stepIndex_ >= count) stepIndex_ = 0;
    if (stepIndex_ == 0) ++cycles_;
    return stepIndex_ == 0;
  } catch (const ERegistersModeError&) {
    EmptyLine(*reply);
    stepIndex_ = 0;
    return false;
  }
}

TRegistersAutomat::TAnswer TRegistersAutomat::AwaitAnswer(const TMKPPacket& request, TMKPPacket& reply) {
  // On a line where other stations talk, a frame addressed to another station
  // is no answer to this request: it is logged, counted and passed over, and
  // the wait goes on. Bytes that form no frame end the wait.
  const std::uint32_t self = VorelAddrToInt(request.SrcAddr);
  TAnswer answer;
  const TMonoTime deadline = TMonoClock::now() + AnswerWindow;
  Transport->ReceivePieces(deadline, [&](const TBusPiece& piece, const TMKPPacket* packet) {
    const bool others = packet != nullptr && VorelAddrToInt(packet->DstAddr) != self;
    if (answer.Time || answer.BadBytes) {  // the rest of the read that brought them
      if (others) ++answer.OtherTraffic;
      return true;
    }
    if (packet == nullptr) {
      answer.BadBytes = true;
      return true;
    }
    if (others) {
      ++answer.OtherTraffic;
      return Terminated();
    }
    reply.SrcAddr = packet->SrcAddr;
    reply.DstAddr = packet->DstAddr;
    reply.Command = packet->Command;
    reply.DataType = packet->DataType;
    reply.DataLen = packet->DataLen;
    std::copy_n(packet->Data.get(), static_cast<std::size_t>(packet->DataLen), reply.Data.get());
    answer.Time = piece.FirstByte;
    answer.Values = ResultTexts(Parser);
    return true;
  });
  if (Terminated() && !answer.Time) throw EThreadMustTerminate();
  return answer;
}

void TRegistersAutomat::DistributeValues(std::string rows, TRegistersTable* table,
                                         const std::vector<std::string>& values) {
  std::size_t next = 0;
  rows = TextBefore(rows, ";");
  while (!rows.empty()) {
    if (Terminated()) throw EThreadMustTerminate();
    const std::string entry = TextBefore(rows, ",");
    DropThrough(rows, ",");
    rows = Trim(rows);
    const auto row = ParseInteger(entry);
    if (!row) {
      ReportFault("row:" + entry,
                  "Registers: the row list entry \"" + entry + "\" is not a number; passed over");
      continue;
    }
    if (*row < 1 || *row > 65535 || next >= values.size()) continue;
    if (table != nullptr) table->SetCurrentValue(*row, values[next]);
    if (history_ != nullptr) history_->Add(*row, values[next], WallClockMs(), cycles_.load());
    ++next;
  }
}

void TRegistersAutomat::RunSaveCommands(std::string saves, const std::vector<std::string>& values) {
  static const char* const Keywords[] = {"SAVEDATALINES", "SAVEDATAROW", "SAVEDATACOL"};
  while (!saves.empty()) {
    const std::string word = Trim(TextBefore(saves, " "));
    DropThrough(saves, " ");
    int keyword = -1;
    for (int i = 0; i < 3; ++i) {
      if (word.rfind(Keywords[i], 0) == 0) {
        keyword = i;
        break;
      }
    }
    if (keyword < 0) continue;
    std::string fileName = word;
    DropThrough(fileName, "=");
    if (fileName.empty()) {
      ReportFault("name:" + word, "Registers: the save command \"" + word + "\" has no file name");
      continue;
    }
    std::string text;
    if (keyword == 0) {
      for (const std::string& value : values) text += (text.empty() ? "" : " ") + value;
      text = Trim(text) + "\r\n";
    } else if (keyword == 1) {
      for (const std::string& value : values) text += value + " ";
    } else {
      for (const std::string& value : values) text += value + " \r\n";
    }
    bool written = false;
    {
      std::ofstream file(fileName, std::ios::binary | std::ios::app);
      if (file) {
        file << text;
        file.close();
        written = !file.fail();
      }
    }
    if (written) {
      ClearFault("file:" + fileName);
    } else {
      ReportFault("file:" + fileName, "Registers: cannot write the save file \"" + fileName + "\"");
    }
  }
}

void TRegistersAutomat::EmptyLine(TMKPPacket& reply) {
  // What still arrives is read (and logged) until a read brings nothing or
  // no frame; on a line where others talk frames never stop, so one frame
  // read's time-out at most.
  const TMonoTime deadline = TMonoClock::now() + AnswerWindow;
  while (!Terminated() && TMonoClock::now() < deadline && Transport->ReceivePacket(reply)) {
  }
}

std::unique_ptr<TWorker<TRegistersAutomat>> MakeRegistersAutomat(TMKProtocolTransport& transport,
                                                                 TMKPParser& parser,
                                                                 TRegistersTable& table,
                                                                 const TDeviceModel& model,
                                                                 const std::string& deviceAddress,
                                                                 TRegistersStats* stats,
                                                                 TValueHistory* history) {
  auto automat = std::make_unique<TWorker<TRegistersAutomat>>();
  automat->SetObservers(stats, history);
  automat->PrepareModel();
  automat->Transport = &transport;
  automat->Parser = &parser;
  automat->SetTables(&table);
  automat->CopyModel(model);
  if (!deviceAddress.empty()) automat->SetTargetAddress(deviceAddress);
  return automat;
}

}  // namespace mkp
