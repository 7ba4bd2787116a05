#include "text/paramlist.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace mkp {
namespace {

std::vector<int> Indexes(const TParamList& list) {
  std::vector<int> out;
  for (const TParamItem& item : list.Items()) out.push_back(item.Index);
  return out;
}

TEST(ParamListTest, AddNumbersItemsAndSetsTheCursorOnlyWhenEmpty) {
  TParamList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.CurrentItem(), nullptr);

  TParamItem* first = list.Add(7, "seven", 7.5L);
  EXPECT_EQ(first->Index, 0);
  EXPECT_EQ(list.CurrentItem(), first);
  TParamItem* second = list.AddText("two");
  EXPECT_EQ(second->Index, 1);
  EXPECT_EQ(second->Code, 0);
  EXPECT_EQ(second->Value, 0.0L);
  EXPECT_EQ(list.CurrentItem(), first);  // the cursor stays put
  EXPECT_EQ(list.Head(), first);
  EXPECT_EQ(list.Count(), 2);
}

TEST(ParamListTest, FindMovesTheCursorOrClearsIt) {
  TParamList list;
  for (const char* t : {"a", "b", "c"}) list.AddText(t);
  TParamItem* b = list.Find(1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Text, "b");
  EXPECT_EQ(list.CurrentItem(), b);
  b->Text = "B";  // written in place
  EXPECT_EQ(list.Peek(1)->Text, "B");
  EXPECT_EQ(list.MoveNext()->Text, "c");
  EXPECT_EQ(list.MoveNext(), nullptr);
  EXPECT_EQ(list.CurrentItem(), nullptr);
  EXPECT_EQ(list.MoveNext(), nullptr);

  list.First();
  EXPECT_EQ(list.Find(9), nullptr);
  EXPECT_EQ(list.CurrentItem(), nullptr);
  EXPECT_EQ(list.MoveNext(), nullptr);

  list.Find(2);
  EXPECT_NE(list.Peek(0), nullptr);
  EXPECT_EQ(list.Peek(5), nullptr);
  EXPECT_EQ(list.CurrentItem()->Text, "c");  // Peek leaves the cursor alone
}

TEST(ParamListTest, DeleteCurrentMovesToNextElsePrevious) {
  TParamList list;
  for (const char* t : {"a", "b", "c"}) list.AddText(t);
  list.Find(1);
  list.DeleteCurrent();
  EXPECT_EQ(list.CurrentItem()->Text, "c");
  EXPECT_EQ(list.Find(1), nullptr);
  ASSERT_NE(list.Find(2), nullptr);
  EXPECT_EQ(list.Find(2)->Text, "c");
  EXPECT_EQ(list.AddText("d")->Index, 3);  // gaps are never closed
  EXPECT_EQ(Indexes(list), (std::vector<int>{0, 2, 3}));

  list.Find(3);
  list.DeleteCurrent();  // the last item: back to the one before
  EXPECT_EQ(list.CurrentItem()->Text, "c");

  list.First();
  list.DeleteCurrent();  // the head: the next one takes its place
  EXPECT_EQ(list.Head()->Text, "c");
  EXPECT_EQ(list.CurrentItem()->Text, "c");
  list.DeleteCurrent();  // the only item
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.CurrentItem(), nullptr);
  list.DeleteCurrent();  // nothing to delete
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.AddText("new")->Index, 0);
  EXPECT_EQ(list.CurrentItem()->Text, "new");
}

TEST(ParamListTest, LookupsAfterDeletesAndSwap) {
  TParamList list;
  for (int i = 0; i < 1000; ++i) list.Add(i, std::to_string(i), 0.0L);
  // Every third item gone: the keys keep their gaps and are still found.
  for (int i = 0; i < 1000; i += 3) {
    list.Find(i);
    list.DeleteCurrent();
  }
  EXPECT_EQ(list.Count(), 666);
  for (int i = 0; i < 1000; ++i) {
    const TParamItem* item = list.Peek(i);
    if (i % 3 == 0) {
      EXPECT_EQ(item, nullptr) << i;
      EXPECT_EQ(list.Find(i), nullptr) << i;
    } else {
      ASSERT_NE(item, nullptr) << i;
      EXPECT_EQ(item->Code, i);
      EXPECT_EQ(list.Find(i), item);
    }
  }
  EXPECT_EQ(list.Find(-1), nullptr);
  EXPECT_EQ(list.Find(1000), nullptr);
  EXPECT_EQ(list.AddText("next")->Index, 999);  // 999 itself was deleted: the last key + 1

  TParamList other;
  other.AddText("x");
  list.Find(500);
  list.Swap(other);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.CurrentItem()->Text, "x");
  EXPECT_EQ(other.Count(), 667);
  ASSERT_NE(other.CurrentItem(), nullptr);
  EXPECT_EQ(other.CurrentItem()->Code, 500);
  ASSERT_NE(other.Peek(999), nullptr);
  EXPECT_EQ(other.Peek(999)->Text, "next");
  EXPECT_EQ(list.AddText("y")->Index, 1);
}

TEST(ParamListTest, ClearEmptiesTheList) {
  TParamList list;
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  for (int i = 0; i < 5; ++i) list.Add(i, "x", i);
  list.Find(4);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Head(), nullptr);
  EXPECT_EQ(list.CurrentItem(), nullptr);
}

TEST(ParamListTest, CopyToReplacesTheDestination) {
  TParamList source;
  source.Add(1, "one", 1.5L);
  source.Add(2, "two", 2.5L);
  source.Find(1);

  auto dest = std::make_unique<TParamList>();
  dest->AddText("old");
  dest->AddText("older");
  source.CopyTo(dest);
  ASSERT_NE(dest, nullptr);
  ASSERT_EQ(dest->Count(), 2);
  EXPECT_EQ(dest->Peek(0)->Text, "one");
  EXPECT_EQ(dest->Peek(0)->Code, 1);
  EXPECT_EQ(dest->Peek(1)->Value, 2.5L);
  EXPECT_EQ(dest->CurrentItem(), dest->Head());
  EXPECT_EQ(source.CurrentItem()->Text, "two");  // the source cursor is untouched

  std::unique_ptr<TParamList> none;
  source.CopyTo(none);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Count(), 2);
}

TEST(ParamListTest, CopyToCopiesOnlyKeysItFinds) {
  TParamList source;
  for (const char* t : {"a", "b", "c", "d"}) source.AddText(t);
  source.Find(1);
  source.DeleteCurrent();  // keys 0, 2, 3 with Count 3: key 3 is not looked up
  std::unique_ptr<TParamList> dest;
  source.CopyTo(dest);
  ASSERT_NE(dest, nullptr);
  ASSERT_EQ(dest->Count(), 2);
  EXPECT_EQ(dest->Peek(0)->Text, "a");
  EXPECT_EQ(dest->Peek(1)->Text, "c");
  EXPECT_EQ(Indexes(*dest), (std::vector<int>{0, 1}));
}

TEST(ParamListTest, CopyListOfAMissingSourceLeavesNoList) {
  auto dest = std::make_unique<TParamList>();
  dest->AddText("x");
  TParamList::CopyList(nullptr, dest);
  EXPECT_EQ(dest, nullptr);

  TParamList source;
  source.AddText("y");
  TParamList::CopyList(&source, dest);
  ASSERT_NE(dest, nullptr);
  EXPECT_EQ(dest->Head()->Text, "y");
}

}  // namespace
}  // namespace mkp
