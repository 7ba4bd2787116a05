// TParamList: the ordered list of small records (an integer, a real and a
// text, addressed by a position key) walked with a cursor.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mkp {

class EParamListError : public std::runtime_error {
public:
  EParamListError() : std::runtime_error("") {}
};

struct TParamItem {
  std::int32_t Code = 0;
  long double Value = 0.0L;
  std::string Text;
  std::int32_t Index = 0;  // set once when added, never renumbered
};

class TParamList {
public:
  TParamList() = default;
  TParamList(const TParamList&) = delete;
  TParamList& operator=(const TParamList&) = delete;

  // Appends an item; Index is 0 in an empty list, else the last Index + 1.
  // The first item of an empty list also becomes the cursor.
  TParamItem* Add(std::int32_t code, std::string_view text, long double value);
  TParamItem* AddText(std::string_view text) { return Add(0, text, 0.0L); }
  // The first item whose Index equals the key, which becomes the cursor; none
  // (and the cursor none) when absent.
  TParamItem* Find(std::int32_t index);
  void First();
  TParamItem* CurrentItem();
  TParamItem* MoveNext();
  // Removes the cursor item; the cursor moves to its next, else its previous.
  void DeleteCurrent();
  void Clear();
  // Clear keeps the removed items' storage for the next Adds (a list that is
  // refilled for every packet then allocates nothing).
  // Replaces *destination by a fresh list holding copies of the items found by
  // Index 0..Count-1, with fresh Index values.
  void CopyTo(std::unique_ptr<TParamList>& destination) const;
  // CopyTo from a possibly missing source: a missing source leaves no list.
  static void CopyList(const TParamList* source, std::unique_ptr<TParamList>& destination);

  int Count() const { return static_cast<int>(items_.size()); }
  TParamItem* Head() { return items_.empty() ? nullptr : &items_.front(); }
  // Item by Index without moving the cursor (for readers that must not disturb it).
  const TParamItem* Peek(std::int32_t index) const;
  // All items in order.
  const std::list<TParamItem>& Items() const { return items_; }
  // Exchanges the contents (items, cursor) of two lists; items stay where
  // they are in memory.
  void Swap(TParamList& other) noexcept;

private:
  using TIterator = std::list<TParamItem>::iterator;
  // The position of the item with the key in order_, or order_.size().
  std::size_t Position(std::int32_t index) const;

  std::list<TParamItem> items_;
  std::list<TParamItem> spare_;  // cleared items, reused by Add
  std::optional<TIterator> cursor_;
  // The items in list order. Keys rise strictly along the list, so a lookup
  // by key is a binary search here rather than a walk of the list, and
  // filling a list of n items by key costs n log n, not n squared.
  std::vector<TIterator> order_;
};

}  // namespace mkp
