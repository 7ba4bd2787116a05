#include "pane_printer.h"

#include <iostream>
#include <mutex>

#include "text/cp1251.h"

namespace mkptool {

namespace {
std::mutex& PrintLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

TPanePrinter::TPanePrinter(std::string name) : TPanePrinter(std::move(name), std::cout) {}

TPanePrinter::TPanePrinter(std::string name, std::ostream& out)
    : name_(std::move(name)), out_(out), timer_(/*answers=*/name_ == "decode") {}

void TPanePrinter::AddLine(const std::string& line, const mkp::TLineStamp& stamp) {
  std::string text = name_ + '\t';
  std::lock_guard lk(PrintLock());
  if (timestamps_) {
    const mkp::TShownTime shown = timer_.Next(stamp);
    text += mkp::TimePrefix(shown) + mkp::Cp1251ToUtf8(line) + mkp::AnswerSuffix(shown) + '\n';
  } else {
    text += mkp::Cp1251ToUtf8(line) + '\n';
  }
  out_ << text;
  out_.flush();
}

}  // namespace mkptool
