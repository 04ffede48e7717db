// Helpers for the BLOB tests: a plain block store in memory, and the check that every block
// of a BLOB file is accounted for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "storage/blob_chains.h"

namespace kura::testing {

// Blocks kept in a map, never evicted; counts pins so a test can see that every pin taken
// was given back.
class TMemoryBlockStore : public TBlockAccess {
 public:
  explicit TMemoryBlockStore(int blockSize) : FBlockSize(blockSize) {}
  TBlock& GetBlock(std::int32_t blockNo, std::int32_t readAhead) override;
  TBlock& FreshBlock(std::int32_t blockNo) override;
  void MarkBlockChanged(TBlock& block) override;
  void ReleaseBlock(TBlock& block) override;

  // Total pins held right now; 0 between operations.
  int PinCount() const { return FPins; }
  // The block as stored, created zeroed when missing (for tests that damage blocks).
  TBlock& Raw(std::int32_t blockNo);

 private:
  int FBlockSize;
  std::map<std::int32_t, std::unique_ptr<TBlock>> FBlocks;
  int FPins = 0;
};

// One stored value as the record would hold it.
struct TValueRef {
  std::int32_t FirstBlock = 0;
  std::int32_t BlobChange = 0;
};

// Checks that every block 1 .. NextBlockNo - 1 lies in exactly one of the given values'
// chains or on the free chain. Answers an empty string, or what is wrong.
std::string BlockAccountingProblem(TBlobChains& chains, const TBlobHeader& header,
                                   const std::vector<TValueRef>& values);

// What a model run asks of the store under the chains.
struct TModelHooks {
  std::function<int()> PinCount;              // pins held; must be 0 between operations
  std::function<void(int batch)> AfterBatch;  // e.g. write back, flush, close and reopen
};

// Random writes, rewrites (longer and shorter), empties and frees of many values of 0 to
// 100 KB against a map of expected contents. After each batch (and its AfterBatch hook) every
// value must read back and every block must be accounted for. Change numbers start just
// below the wrap to 1. Answers an empty string, or the first problem met.
std::string RunBlobModel(TBlobChains& chains, const TBlobHeader& header, unsigned seed, int batches,
                         int operationsPerBatch, const TModelHooks& hooks);

// `count` bytes from a fixed seed: the contents of test values.
std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed);

}  // namespace kura::testing
