#include "storage/blob_test_support.h"

#include <stdexcept>

namespace kura::testing {

TBlock& TMemoryBlockStore::Raw(std::int32_t blockNo) {
  auto& slot = FBlocks[blockNo];
  if (!slot) {
    slot = std::make_unique<TBlock>();
    slot->BlockNo = blockNo;
    slot->Data.assign(static_cast<std::size_t>(BlockDataSize(FBlockSize)), 0);
  }
  return *slot;
}

TBlock& TMemoryBlockStore::GetBlock(std::int32_t blockNo, std::int32_t readAhead) {
  if (readAhead < 1) throw std::logic_error("read-ahead below 1");
  ++FPins;
  return Raw(blockNo);
}

TBlock& TMemoryBlockStore::FreshBlock(std::int32_t blockNo) {
  TBlock& block = Raw(blockNo);
  block.Clear();
  ++FPins;
  return block;
}

void TMemoryBlockStore::MarkBlockChanged(TBlock&) {}

void TMemoryBlockStore::ReleaseBlock(TBlock&) {
  if (FPins == 0) throw std::logic_error("block released more often than pinned");
  --FPins;
}

std::string BlockAccountingProblem(TBlobChains& chains, const TBlobHeader& header,
                                   const std::vector<TValueRef>& values) {
  std::vector<int> owners(static_cast<std::size_t>(header.NextBlockNo), 0);
  auto claim = [&](std::int32_t blockNo, const std::string& who) -> std::string {
    if (blockNo < 1 || blockNo >= header.NextBlockNo)
      return who + " links to block " + std::to_string(blockNo) + " outside the file";
    if (owners[static_cast<std::size_t>(blockNo)]++ != 0)
      return "block " + std::to_string(blockNo) + " is used twice (again by " + who + ")";
    return {};
  };
  try {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (values[i].FirstBlock == 0) continue;
      for (const std::int32_t n : chains.ValueBlocks(values[i].FirstBlock, values[i].BlobChange))
        if (auto problem = claim(n, "value " + std::to_string(i)); !problem.empty()) return problem;
    }
    for (const std::int32_t n : chains.FreeChainBlocks())
      if (auto problem = claim(n, "the free chain"); !problem.empty()) return problem;
  } catch (const std::exception& error) {
    return std::string("walking the chains raised: ") + error.what();
  }
  for (std::int32_t n = 1; n < header.NextBlockNo; ++n)
    if (owners[static_cast<std::size_t>(n)] == 0)
      return "block " + std::to_string(n) + " is in no chain";
  return {};
}

}  // namespace kura::testing
