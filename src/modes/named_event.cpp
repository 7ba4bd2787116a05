#include "modes/named_event.h"

#include <ctime>
#include <map>
#include <mutex>

#include "text/numtext.h"

namespace mkp {

namespace {

constexpr std::size_t MaxNameLength = 255;

struct TRegistry {
  std::mutex lock;
  struct TEvent {
    bool Signalled = false;
    int Holders = 0;  // creations not yet released
  };
  std::map<std::string, TEvent> events;
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

std::string Cut(const std::string& name) { return name.substr(0, MaxNameLength); }

}  // namespace

void CreateNamedEvent(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  ++registry.events[Cut(name)].Holders;
}

void ReleaseNamedEvent(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.events.find(Cut(name));
  if (found != registry.events.end() && --found->second.Holders <= 0) registry.events.erase(found);
}

bool NamedEventExists(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  return registry.events.count(Cut(name)) != 0;
}

void SetNamedEvent(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.events.find(Cut(name));
  if (found != registry.events.end()) found->second.Signalled = true;
}

void ResetNamedEvent(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.events.find(Cut(name));
  if (found != registry.events.end()) found->second.Signalled = false;
}

bool IsNamedEventSet(const std::string& name) {
  TRegistry& registry = Registry();
  std::lock_guard guard(registry.lock);
  const auto found = registry.events.find(Cut(name));
  return found != registry.events.end() && found->second.Signalled;
}

std::string MakeStepEventName(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto whole = floor<seconds>(when);
  const std::time_t wholeSeconds = system_clock::to_time_t(whole);
  std::tm local{};
  localtime_r(&wholeSeconds, &local);
  // Days from 30 December 1899 to 1 January 1970, plus the local date.
  const auto localDays =
      sys_days{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday}.time_since_epoch();
  const double sub = duration<double>(when - whole).count();
  const double timeOfDay = (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + sub) / 86400.0;
  const double days = 25569.0 + static_cast<double>(localDays.count()) + timeOfDay;
  return Cut("_MKPTEST_REGISTERSA_EVENT" + FloatToStrDot(days));
}

std::string MakeStepEventName() { return MakeStepEventName(std::chrono::system_clock::now()); }

}  // namespace mkp
