// The page store a cursor hands its navigators: the table's page cache of one index, with the
// cursor's change detection before every read that will miss the cache. In lazy change
// detection such a read first takes the table's read lock (re-reading the file headers);
// when that sees a change the read stops with TReadSawChange before anything was pinned, so
// the navigation step committed nothing and the cursor can re-synchronise and run it again.
#pragma once

#include <cstdint>

#include "engine/forwarding_page_store.h"

namespace kura {

class TDataCursor;

// Thrown by a read that saw another process's change; caught by the cursor's step runner.
struct TReadSawChange {};

class TCursorPageStore : public TForwardingPageStore {
 public:
  TCursorPageStore(TIndexPageStore& inner, TDataCursor& cursor, int slot)
      : TForwardingPageStore(inner), FCursor(cursor), FSlot(slot) {}

  TPage* GetPage(std::int32_t pageNo) override;

 private:
  TDataCursor& FCursor;
  int FSlot;
};

}  // namespace kura
