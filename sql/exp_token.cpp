#include "sql/exp_token.h"

#include <algorithm>
#include <cstring>

namespace kura {

TExpToken::TExpToken() : FData(kTokenDataQuantum, 0) {}

TExpToken::~TExpToken() {
  delete FSubQuery;
  // Children are released through the pool before a node is destroyed; a node destroyed
  // directly still frees what it owns.
  TExpTokenStack::Release(FLeft);
  TExpTokenStack::Release(FRight);
  for (TExpToken* arg : FArgs) TExpTokenStack::Release(arg);
}

std::uint8_t* TExpToken::Reserve(std::size_t n) {
  if (n > FData.size()) {
    std::size_t rounded = (n + kTokenDataQuantum - 1) / kTokenDataQuantum * kTokenDataQuantum;
    FData.resize(rounded, 0);
  }
  return FData.data();
}

void TExpToken::ZeroValue(std::size_t size) {
  std::memset(FData.data(), 0, std::min(size, FData.size()));
}

void TExpToken::Reset() {
  FText.clear();
  FKind = 0;
  FOperator = opNone;
  FColumnName.clear();
  FFieldNo = 0;
  FTableName.clear();
  FSourceTable = nullptr;
  delete FSubQuery;
  FSubQuery = nullptr;
  if (FData.size() > kTokenDataQuantum) {
    FData.resize(kTokenDataQuantum);
    FData.shrink_to_fit();
  }
  std::fill(FData.begin(), FData.end(), 0);
  FIsNull = 0;
  FIsParam = 0;
  FPartialLength = 0;
  FCaseInsensitive = 0;
  FDataType = kUntyped;
  FSubType = 0;
  FDataSize = 0;
  FScale = 0;
  FLeft = nullptr;
  FRight = nullptr;
  FArgs.clear();
  FWrittenAsString = false;
  FSavedDataType = 0;
  FSavedSubType = 0;
  FSavedDataSize = 0;
  FSavedScale = 0;
  FJoinMark = 0;
  FFilterMarks = 0;
  FDepth = 1;
}

namespace {

// Each thread keeps its own free nodes: an evaluation takes and gives back several nodes per
// record, and a lock around a shared pool cost more than the evaluation itself. A node
// allocated in one thread and released in another simply joins the second one's pool.
struct TPool {
  std::vector<TExpToken*> Free;
  TPool() { Free.reserve(kTokenPoolCapacity); }
  ~TPool();
};

// Set once this thread's pool is gone (trees released by later destructors of the thread
// or of the process are then deleted directly). A plain flag, valid to the thread's end.
thread_local bool tPoolGone = false;
thread_local TPool tPool;

TPool::~TPool() {
  tPoolGone = true;
  for (TExpToken* node : Free) delete node;
  Free.clear();
}

TPool* Pool() {
  return tPoolGone ? nullptr : &tPool;
}

// Detaches the children of node into out so that trees are released without recursion.
void TakeChildren(TExpToken* node, std::vector<TExpToken*>& out) {
  if (node->FLeft != nullptr) out.push_back(node->FLeft);
  if (node->FRight != nullptr) out.push_back(node->FRight);
  for (TExpToken* arg : node->FArgs) {
    if (arg != nullptr) out.push_back(arg);
  }
  node->FLeft = nullptr;
  node->FRight = nullptr;
  node->FArgs.clear();
}

}  // namespace

TExpToken* TExpTokenStack::Allocate() {
  TPool* pool = Pool();
  if (pool == nullptr || pool->Free.empty()) return new TExpToken;
  TExpToken* node = pool->Free.back();
  pool->Free.pop_back();
  node->Reset();
  return node;
}

void TExpTokenStack::Release(TExpToken* node) {
  if (node == nullptr) return;
  // Walk the tree with an explicit list: a tree built elsewhere may be deeper than the
  // parser allows.
  thread_local std::vector<TExpToken*> pending;
  std::size_t base = pending.size();
  pending.push_back(node);
  while (pending.size() > base) {
    TExpToken* current = pending.back();
    pending.pop_back();
    TakeChildren(current, pending);
    delete current->FSubQuery;
    current->FSubQuery = nullptr;
    // A large value buffer is given back now rather than when the node is next taken, so
    // the free nodes never hold more than 256 bytes each.
    if (current->FData.size() > kTokenDataQuantum) {
      current->FData.resize(kTokenDataQuantum);
      current->FData.shrink_to_fit();
    }
    TPool* pool = Pool();
    if (pool != nullptr && pool->Free.size() < kTokenPoolCapacity) {
      pool->Free.push_back(current);
    } else {
      delete current;
    }
  }
}

std::size_t TExpTokenStack::PooledCount() {
  const TPool* pool = Pool();
  return pool != nullptr ? pool->Free.size() : 0;
}

}  // namespace kura
