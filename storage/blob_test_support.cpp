#include "storage/blob_test_support.h"

#include <iterator>
#include <random>
#include <stdexcept>

namespace kura::testing {

TBlock& TMemoryBlockStore::Raw(std::int32_t blockNo) {
  auto& slot = FBlocks[blockNo];
  if (!slot) {
    slot = std::make_unique<TBlock>(FBlockSize);
    slot->Number = blockNo;
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

namespace {

struct TModelValue {
  TValueRef ref;
  std::vector<std::uint8_t> bytes;
};

class TBlobModel {
 public:
  TBlobModel(TBlobChains& chains, unsigned seed) : FChains(chains), FRandom(seed) {}

  void RandomOperation() {
    const unsigned kind = FValues.empty() ? 0 : FRandom() % 10;
    if (kind < 3) {
      Write(FValues[FNextId++], RandomBytes());
    } else if (kind < 8) {
      Write(Pick()->second, RandomBytes());
    } else if (kind < 9) {
      TModelValue& value = Pick()->second;
      FChains.FreeBlob(value.ref.FirstBlock, value.ref.BlobChange, false);
      value = {};
    } else {
      auto it = Pick();
      FChains.FreeBlob(it->second.ref.FirstBlock, it->second.ref.BlobChange, false);
      FValues.erase(it);
    }
  }

  // Reads every value back; answers what differs, or an empty string.
  std::string Verify(std::vector<TValueRef>& refs) {
    for (auto& [id, value] : FValues) {
      TBlobBuffer buffer;
      buffer.FirstBlock = value.ref.FirstBlock;
      buffer.BlobChange = value.ref.BlobChange;
      FChains.ReadBlob(buffer);
      if (buffer.Data != value.bytes) return "value " + std::to_string(id) + " reads back wrong";
      refs.push_back(value.ref);
    }
    return {};
  }

 private:
  std::vector<std::uint8_t> RandomBytes() {
    std::size_t size = 0;
    switch (FRandom() % 4) {
      case 0:
        size = FRandom() % 8;
        break;
      case 1:
        size = FRandom() % 2000;
        break;
      case 2:
        size = FRandom() % 20000;
        break;
      default:
        size = FRandom() % 100001;
        break;
    }
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = FRandom();
    for (auto& byte : bytes)
      byte = static_cast<std::uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
  }

  std::map<int, TModelValue>::iterator Pick() {
    auto it = FValues.begin();
    std::advance(it, static_cast<long>(FRandom() % FValues.size()));
    return it;
  }

  void Write(TModelValue& value, std::vector<std::uint8_t> bytes) {
    TBlobBuffer buffer;
    buffer.FirstBlock = value.ref.FirstBlock;
    buffer.BlobChange = value.ref.BlobChange;
    buffer.Data = bytes;
    FLastChange = NextBlobChange(FLastChange);
    FChains.WriteBlob(buffer, FLastChange);
    value.ref = {buffer.FirstBlock, buffer.BlobChange};
    value.bytes = std::move(bytes);
  }

  TBlobChains& FChains;
  std::mt19937 FRandom;
  std::map<int, TModelValue> FValues;
  std::int32_t FLastChange = 2147483000;
  int FNextId = 0;
};

}  // namespace

std::string RunBlobModel(TBlobChains& chains, const TBlobHeader& header, unsigned seed, int batches,
                         int operationsPerBatch, const TModelHooks& hooks) {
  TBlobModel model(chains, seed);
  try {
    for (int batch = 0; batch < batches; ++batch) {
      const std::string where = " in batch " + std::to_string(batch);
      for (int op = 0; op < operationsPerBatch; ++op) {
        model.RandomOperation();
        if (hooks.PinCount && hooks.PinCount() != 0) return "a pin was not given back" + where;
      }
      if (hooks.AfterBatch) hooks.AfterBatch(batch);
      std::vector<TValueRef> refs;
      if (auto problem = model.Verify(refs); !problem.empty()) return problem + where;
      if (auto problem = BlockAccountingProblem(chains, header, refs); !problem.empty())
        return problem + where;
      if (hooks.PinCount && hooks.PinCount() != 0) return "a pin was not given back" + where;
    }
  } catch (const std::exception& error) {
    return std::string("raised: ") + error.what();
  }
  return {};
}

std::vector<std::uint8_t> RandomBytes(std::size_t count, unsigned seed) {
  std::vector<std::uint8_t> bytes(count);
  std::mt19937 random(seed);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

}  // namespace kura::testing
