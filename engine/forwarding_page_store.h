// A page store that passes every call on to another. Stores that watch or guard the page
// reads of a navigator derive from it and override what they watch: the cursor's store that
// runs change detection before a read that misses the cache, a store that counts reads for a
// benchmark, a store that fails on request in tests.
#pragma once

#include <cstdint>

#include "storage/index_tree.h"

namespace kura {

class TForwardingPageStore : public TIndexPageStore {
 public:
  explicit TForwardingPageStore(TIndexPageStore& inner) : FInner(inner) {}

  TPage* GetPage(std::int32_t pageNo) override { return FInner.GetPage(pageNo); }
  void ReleasePage(TPage* page) override { FInner.ReleasePage(page); }
  TPage* NewPage() override { return FInner.NewPage(); }
  void FreePage(TPage* page) override { FInner.FreePage(page); }
  std::int32_t RootPage() const override { return FInner.RootPage(); }
  void SetRootPage(std::int32_t pageNo) override { FInner.SetRootPage(pageNo); }
  std::int32_t FreePageHead() const override { return FInner.FreePageHead(); }
  std::int32_t NextPageNo() const override { return FInner.NextPageNo(); }

 protected:
  TIndexPageStore& Inner() const { return FInner; }

 private:
  TIndexPageStore& FInner;
};

}  // namespace kura
