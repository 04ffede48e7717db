// Building the tree of an empty index from all its keys at once, bottom-up: the keys sorted,
// leaves filled to capacity one after the other, then each level of branches over the level
// below, up to a single root. The pages are those key-by-key inserts would make (same types,
// links, separators and subtree counts; the tree checker gives the same verdict), only fuller,
// and each page is written once instead of once per insert into it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/index_key.h"
#include "storage/index_page.h"
#include "storage/index_tree.h"

namespace kura {

// The keys of one index gathered for a build: KeyLength bytes each, one after the other, and
// the record number of each.
struct TKeyBatch {
  explicit TKeyBatch(int keyLength) : KeyLength(static_cast<std::size_t>(keyLength)) {}
  void Add(const std::uint8_t* key, std::int32_t recordNo) {
    Keys.insert(Keys.end(), key, key + KeyLength);
    Records.push_back(recordNo);
  }
  std::size_t Size() const { return Records.size(); }
  const std::uint8_t* Key(std::size_t i) const { return Keys.data() + i * KeyLength; }

  std::size_t KeyLength;
  std::vector<std::uint8_t> Keys;
  std::vector<std::int32_t> Records;
};

// Builds the tree of an empty index from keys given in strictly ascending order, keeping
// only one open page per level: leaves are filled one after the other, and each full page
// hands its first key and page number to the level above. Finish closes the open pages and
// makes the root; a tree left without Finish is not a tree.
class TTreeAppender {
 public:
  TTreeAppender(TIndexPageStore& store, const TPageFormat& format);
  ~TTreeAppender();
  TTreeAppender(const TTreeAppender&) = delete;
  TTreeAppender& operator=(const TTreeAppender&) = delete;

  void Add(const std::uint8_t* key, std::int32_t recordNo);
  void Finish();

 private:
  struct TLevel;
  void AddTo(std::size_t level, const std::uint8_t* key, std::int32_t number, std::int32_t count);
  void OpenPage(std::size_t level, const std::uint8_t* firstKey);
  void ClosePage(std::size_t level);

  TIndexPageStore& FStore;
  const TPageFormat FFormat;
  std::vector<std::unique_ptr<TLevel>> FLevels;
};

// Sorts the batch and builds the tree of the store's index, which must be empty (root 0).
// Answers false, building nothing, when two keys are equal (a unique index over equal values).
bool BuildTreeFromKeys(TIndexPageStore& store, const TKeyFormat& keys, const TPageFormat& format,
                       const TKeyBatch& batch);

}  // namespace kura
