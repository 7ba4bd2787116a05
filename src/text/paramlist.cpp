#include "text/paramlist.h"

namespace mkp {

TParamItem* TParamList::Add(std::int32_t code, std::string_view text, long double value) {
  const std::int32_t index = items_.empty() ? 0 : items_.back().Index + 1;
  const bool wasEmpty = items_.empty();
  if (spare_.empty())
    items_.emplace_back();
  else
    items_.splice(items_.end(), spare_, spare_.begin());
  TParamItem& item = items_.back();
  item.Code = code;
  item.Text.assign(text);
  item.Value = value;
  item.Index = index;
  if (wasEmpty) cursor_ = items_.begin();
  return &item;
}

TParamItem* TParamList::Find(std::int32_t index) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->Index == index) {
      cursor_ = it;
      return &*it;
    }
  }
  cursor_.reset();
  return nullptr;
}

const TParamItem* TParamList::Peek(std::int32_t index) const {
  for (const TParamItem& item : items_)
    if (item.Index == index) return &item;
  return nullptr;
}

void TParamList::First() {
  if (items_.empty())
    cursor_.reset();
  else
    cursor_ = items_.begin();
}

TParamItem* TParamList::CurrentItem() { return cursor_ ? &**cursor_ : nullptr; }

TParamItem* TParamList::MoveNext() {
  if (!cursor_) return nullptr;
  auto next = std::next(*cursor_);
  if (next == items_.end()) {
    cursor_.reset();
    return nullptr;
  }
  cursor_ = next;
  return &*next;
}

void TParamList::DeleteCurrent() {
  if (!cursor_) return;
  const auto victim = *cursor_;
  const auto next = std::next(victim);
  if (next != items_.end())
    cursor_ = next;
  else if (victim != items_.begin())
    cursor_ = std::prev(victim);
  else
    cursor_.reset();
  items_.erase(victim);
}

void TParamList::Clear() {
  spare_.splice(spare_.end(), items_);
  cursor_.reset();
}

void TParamList::CopyTo(std::unique_ptr<TParamList>& destination) const {
  // Built aside first, so copying a list onto itself reads the source intact.
  auto copy = std::make_unique<TParamList>();
  // Keys rise strictly along the list, so one walk finds the items keyed
  // 0..Count-1 in order; a list with gaps copies only the keys it holds.
  const int count = Count();
  auto it = items_.begin();
  for (std::int32_t index = 0; index < count; ++index) {
    while (it != items_.end() && it->Index < index) ++it;
    if (it == items_.end()) break;
    if (it->Index == index) copy->Add(it->Code, it->Text, it->Value);
  }
  destination = std::move(copy);
}

void TParamList::CopyList(const TParamList* source, std::unique_ptr<TParamList>& destination) {
  try {
    if (source == nullptr) throw EParamListError();
    source->CopyTo(destination);
  } catch (const EParamListError&) {
    destination.reset();
  }
}

}  // namespace mkp
