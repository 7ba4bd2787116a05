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
    : name_(std::move(name)), out_(out) {}

void TPanePrinter::AddLine(const mkp::TPaneLine& line) {
  const std::string text = name_ + '\t' + mkp::Cp1251ToUtf8(mkp::ShownLine(line, timestamps_)) + '\n';
  std::lock_guard lk(PrintLock());
  out_ << text;
  out_.flush();
}

}  // namespace mkptool
