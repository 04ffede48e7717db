// A small table for navigation tests: records of a CHAR name and an INTEGER number kept in
// memory, one index over (name, number) in a memory page store, the live-records bitmap, and
// helpers to build keys.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/forwarding_page_store.h"
#include "storage/index_key.h"
#include "storage/index_page.h"
#include "storage/index_tree.h"
#include "storage/records_bitmap.h"

namespace kura::test {

using TKey = std::vector<std::uint8_t>;

struct TNavTableOptions {
  int NameSize = 8;         // declared size of the CHAR field
  bool NumberField = true;  // the index covers the number after the name
  bool Unique = true;
  bool Descending = false;      // the whole index
  bool NameDescending = false;  // the name field alone
  bool WithLocale = false;      // German collation instead of byte order
  std::uint8_t Compression = kCompressNone;
  bool Images = false;     // pages kept as disk images and decoded on each read
  bool Uncounted = false;  // branch entries without subtree counts
};

class TNavTable {
 public:
  explicit TNavTable(const TNavTableOptions& options = {});

  // Appends a record and enters its key; answers its record number, or 0 (nothing changed)
  // when a unique index already holds the key.
  std::int32_t Insert(const std::string& name, std::int32_t number = 0);
  // Deletes a live record and its key.
  void Delete(std::int32_t recordNo);

  bool IsLive(std::int32_t recordNo) const {
    return Live.IsSet(static_cast<std::uint32_t>(recordNo));
  }
  const std::string& NameOf(std::int32_t recordNo) const { return Names.at(recordNo - 1); }
  TKey KeyOf(std::int32_t recordNo) const;
  // The key of a record with these values (RowId 0 for a non-unique index).
  TKey KeyFor(const std::string& name, std::int32_t number = 0, std::int32_t rowId = 0) const;
  std::int32_t HighestRecordNo() const { return static_cast<std::int32_t>(Records.size()); }
  // Runs the tree checker and requires no pinned pages.
  void ExpectSound() const;

  TNavTableOptions Options;
  std::vector<TFieldDescriptor> Fields;
  std::size_t RecordSize = 0;
  TTableLocale Locale;
  TIndexDescriptor Descriptor;
  TKeyFormat Keys;
  TPageFormat Pages;
  std::unique_ptr<TMemoryPageStore> Store;
  std::unique_ptr<TIndexTree> Tree;
  std::vector<std::vector<std::uint8_t>> Records;
  std::vector<std::string> Names;
  TRecordsBitmap Live;

 private:
  std::vector<std::uint8_t> MakeRecord(const std::string& name, std::int32_t number,
                                       std::int32_t rowId) const;
};

// Makes a page store throw an engine error on every read after the next `allowed` ones.
class TFailingStore : public TForwardingPageStore {
 public:
  using TForwardingPageStore::TForwardingPageStore;
  void FailAfter(int allowed) { FAllowed = allowed; }
  void Heal() { FAllowed = -1; }
  int Reads() const { return FReads; }

  TPage* GetPage(std::int32_t pageNo) override;

 private:
  int FAllowed = -1;
  int FReads = 0;
};

}  // namespace kura::test
