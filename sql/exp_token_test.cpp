// The node pool: reuse, value buffer capacities and use from several threads.
#include "sql/exp_token.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace kura {
namespace {

// Drains the pool so that each test starts from a known count.
void DrainPool() {
  std::vector<TExpToken*> taken;
  while (TExpTokenStack::PooledCount() > 0) taken.push_back(TExpTokenStack::Allocate());
  for (TExpToken* node : taken) delete node;
}

TEST(ExpTokenPool, ReleasedNodeIsReusedFirstAndReset) {
  DrainPool();
  TExpToken* node = TExpTokenStack::Allocate();
  node->FText = "abc";
  node->FKind = kNodeColumn;
  node->FFieldNo = 7;
  node->FColumnName = "name";
  node->FIsNull = 1;
  node->FDataType = 6;
  node->Reserve(10)[3] = 0x55;
  TExpTokenStack::Release(node);
  EXPECT_EQ(1u, TExpTokenStack::PooledCount());

  TExpToken* again = TExpTokenStack::Allocate();
  EXPECT_EQ(node, again);
  EXPECT_TRUE(again->FText.empty());
  EXPECT_EQ(0, again->FKind);
  EXPECT_EQ(0, again->FFieldNo);
  EXPECT_TRUE(again->FColumnName.empty());
  EXPECT_EQ(0, again->FIsNull);
  EXPECT_EQ(0, again->FDataType);
  EXPECT_EQ(0, again->Data()[3]);
  TExpTokenStack::Release(again);
}

TEST(ExpTokenPool, ValueBufferGrowsIn256ByteStepsAndShrinksBackOnReuse) {
  DrainPool();
  TExpToken* node = TExpTokenStack::Allocate();
  EXPECT_EQ(kTokenDataQuantum, node->FData.size());
  node->Reserve(257);
  EXPECT_EQ(512u, node->FData.size());
  node->Reserve(1000);
  EXPECT_EQ(1024u, node->FData.size());
  node->Data()[1000] = 1;
  TExpTokenStack::Release(node);
  TExpToken* again = TExpTokenStack::Allocate();
  ASSERT_EQ(node, again);
  EXPECT_EQ(kTokenDataQuantum, again->FData.size());
  for (std::uint8_t byte : again->FData) ASSERT_EQ(0, byte);
  TExpTokenStack::Release(again);
}

TEST(ExpTokenPool, ReleasingATreeReturnsEveryNodeAndTheCapacityIsKept) {
  DrainPool();
  std::vector<TExpToken*> nodes;
  for (std::size_t i = 0; i < kTokenPoolCapacity + 10; ++i)
    nodes.push_back(TExpTokenStack::Allocate());
  // A root with a left chain, a right child and arguments.
  TExpToken* root = nodes[0];
  root->FRight = nodes[1];
  for (std::size_t i = 2; i < nodes.size(); ++i) {
    if (i % 2 == 0) {
      root->FArgs.push_back(nodes[i]);
    } else {
      nodes[i - 1]->FLeft = nodes[i];
    }
  }
  TExpTokenStack::Release(root);
  EXPECT_EQ(kTokenPoolCapacity, TExpTokenStack::PooledCount());
}

TEST(ExpTokenPool, DeepChainIsReleasedWithoutRecursion) {
  DrainPool();
  TExpToken* root = TExpTokenStack::Allocate();
  TExpToken* tail = root;
  for (int i = 0; i < 200000; ++i) {
    tail->FLeft = TExpTokenStack::Allocate();
    tail = tail->FLeft;
  }
  TExpTokenStack::Release(root);
  EXPECT_EQ(kTokenPoolCapacity, TExpTokenStack::PooledCount());
}

TEST(ExpTokenPool, ThreadsShareThePoolSafely) {
  DrainPool();
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < kRounds; ++round) {
        TExpTokenPtr parent = NewToken();
        parent->FText = std::to_string(t);
        parent->FLeft = TExpTokenStack::Allocate();
        parent->FArgs.push_back(TExpTokenStack::Allocate());
        parent->FLeft->Reserve(300)[299] = static_cast<std::uint8_t>(t);
        ASSERT_EQ(std::to_string(t), parent->FText);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_LE(TExpTokenStack::PooledCount(), kTokenPoolCapacity);
  // Every pooled node is distinct.
  std::set<TExpToken*> distinct;
  std::vector<TExpToken*> taken;
  while (TExpTokenStack::PooledCount() > 0) {
    taken.push_back(TExpTokenStack::Allocate());
    EXPECT_TRUE(distinct.insert(taken.back()).second);
  }
  for (TExpToken* node : taken) TExpTokenStack::Release(node);
}

}  // namespace
}  // namespace kura
