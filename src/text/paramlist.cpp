#include "text/paramlist.h"

#include <algorithm>

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
  order_.push_back(std::prev(items_.end()));
  if (wasEmpty) cursor_ = items_.begin();
  return &item;
}

std::size_t TParamList::Position(std::int32_t index) const {
  // A list never deleted from holds the keys first, first + 1, ...
  if (!order_.empty()) {
    const std::int64_t offset = static_cast<std::int64_t>(index) - order_.front()->Index;
    if (offset >= 0 && offset < static_cast<std::int64_t>(order_.size()) &&
        order_[static_cast<std::size_t>(offset)]->Index == index)
      return static_cast<std::size_t>(offset);
  }
  const auto found = std::lower_bound(order_.begin(), order_.end(), index,
                                      [](const TIterator& item, std::int32_t key) { return item->Index < key; });
  if (found == order_.end() || (*found)->Index != index) return order_.size();
  return static_cast<std::size_t>(found - order_.begin());
}

TParamItem* TParamList::Find(std::int32_t index) {
  const std::size_t position = Position(index);
  if (position == order_.size()) {
    cursor_.reset();
    return nullptr;
  }
  cursor_ = order_[position];
  return &*order_[position];
}

const TParamItem* TParamList::Peek(std::int32_t index) const {
  const std::size_t position = Position(index);
  return position == order_.size() ? nullptr : &*order_[position];
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
  order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(Position(victim->Index)));
  items_.erase(victim);
}

void TParamList::Clear() {
  spare_.splice(spare_.end(), items_);
  order_.clear();
  cursor_.reset();
}

void TParamList::Swap(TParamList& other) noexcept {
  items_.swap(other.items_);
  spare_.swap(other.spare_);
  cursor_.swap(other.cursor_);
  order_.swap(other.order_);
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
