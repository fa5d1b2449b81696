#include "support/pool.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

std::vector<int> Elements(const PooledList<int>& list) {
  std::vector<int> out;
  for (const auto* node = list.Head; node; node = node->Next) out.push_back(node->Element);
  return out;
}

// Walks both ways so that a broken back link shows too.
void ExpectLinked(const PooledList<int>& list, const std::vector<int>& expected) {
  EXPECT_EQ(Elements(list), expected);
  std::vector<int> backwards;
  for (const auto* node = list.Tail; node; node = node->Previous) backwards.insert(backwards.begin(), node->Element);
  EXPECT_EQ(backwards, expected);
  EXPECT_EQ(list.Count, static_cast<std::int32_t>(expected.size()));
}

void Fill(PooledList<int>& list, std::initializer_list<int> values) {
  for (int value : values) ASSERT_FALSE(list.Append(value));
}

TEST(PooledList, AppendLeavesNoCurrentNode) {
  PooledList<int> list;
  Fill(list, {1, 2, 3});
  list.First();
  list.Next();
  ASSERT_FALSE(list.Append(4));
  EXPECT_EQ(list.Current, nullptr);
  EXPECT_EQ(list.Index, 0);
  ExpectLinked(list, {1, 2, 3, 4});
}

TEST(PooledList, RemoveWithoutCurrentNodeChangesNothing) {
  PooledList<int> list;
  EXPECT_FALSE(list.RemoveCurrent());
  Fill(list, {1, 2});
  EXPECT_FALSE(list.RemoveCurrent());
  ExpectLinked(list, {1, 2});
}

TEST(PooledList, RemovingMovesTheIteratorToTheFollowingNode) {
  struct Case {
    int Steps;  // how far from the head the removed node lies
    std::vector<int> Left;
    int NextElement;  // -1: no current node afterwards
    std::int32_t IndexAfter;
  };
  const Case cases[] = {
      {0, {2, 3, 4}, 2, 0},
      {1, {1, 3, 4}, 3, 1},
      {3, {1, 2, 3}, -1, 0},  // the tail: its predecessor becomes the tail
  };
  for (const Case& c : cases) {
    PooledList<int> list;
    Fill(list, {1, 2, 3, 4});
    list.First();
    for (int i = 0; i < c.Steps; i++) list.Next();
    EXPECT_EQ(list.Index, c.Steps);
    ASSERT_TRUE(list.RemoveCurrent());
    ExpectLinked(list, c.Left);
    if (c.NextElement < 0) {
      EXPECT_EQ(list.Current, nullptr);
      EXPECT_EQ(list.Tail->Element, 3);
    } else {
      ASSERT_NE(list.Current, nullptr);
      EXPECT_EQ(list.Current->Element, c.NextElement);
    }
    EXPECT_EQ(list.Index, c.IndexAfter);
  }
}

TEST(PooledList, RemovingEveryNodeEmptiesTheList) {
  PooledList<int> list;
  Fill(list, {1, 2, 3});
  list.First();
  while (list.RemoveCurrent()) {
  }
  EXPECT_EQ(list.Head, nullptr);
  EXPECT_EQ(list.Tail, nullptr);
  EXPECT_EQ(list.Count, 0);
}

// A type of its own, so that its pool holds only this test's nodes.
struct Tag25 {
  int Value = 0;
};

TEST(PooledList, RebuildingAfterClearTakesNoNewBlock) {
  PooledList<Tag25> list;
  for (int i = 0; i < 25; i++) ASSERT_FALSE(list.Append({i}));
  std::set<const void*> nodes;
  for (auto* node = list.Head; node; node = node->Next) nodes.insert(node);
  list.Clear();
  EXPECT_EQ(list.Head, nullptr);
  EXPECT_EQ(list.Tail, nullptr);
  EXPECT_EQ(list.Count, 0);
  for (int i = 0; i < 25; i++) ASSERT_FALSE(list.Append({100 + i}));
  int value = 100;
  for (auto* node = list.Head; node; node = node->Next) {
    EXPECT_EQ(nodes.count(node), 1u);
    EXPECT_EQ(node->Element.Value, value++);
  }
}

TEST(PooledList, CopyRebuildsTheElementsInOrderWithTheHeadCurrent) {
  PooledList<int> source, copy;
  Fill(source, {5, 6, 7});
  Fill(copy, {1});
  copy.Copy(source);
  ExpectLinked(copy, {5, 6, 7});
  ExpectLinked(source, {5, 6, 7});
  EXPECT_EQ(copy.Current, copy.Head);
  EXPECT_NE(copy.Head, source.Head);
  EXPECT_EQ(copy.Index, 0);

  PooledList<int> empty;
  copy.Copy(empty);
  EXPECT_EQ(copy.Head, nullptr);
  EXPECT_EQ(copy.Tail, nullptr);
  EXPECT_EQ(copy.Current, nullptr);
  EXPECT_EQ(copy.Count, 0);
}

TEST(PooledList, CopyOntoItselfKeepsTheElements) {
  PooledList<int> list;
  Fill(list, {1, 2});
  list.Copy(list);
  ExpectLinked(list, {1, 2});
}

TEST(PooledList, ThreadsShareTheTypesPoolSafely) {
  std::vector<std::thread> threads;
  std::vector<int> faults(4, 0);
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([t, &faults] {
      PooledList<long> list;
      for (int round = 0; round < 300; round++) {
        for (long i = 0; i < 30; i++) list.Append(t * 1000 + i);
        long expected = t * 1000;
        for (auto* node = list.Head; node; node = node->Next)
          if (node->Element != expected++) faults[t]++;
        list.Clear();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(faults, std::vector<int>(4, 0));
}

}  // namespace
