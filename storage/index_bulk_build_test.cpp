// Trees built bottom-up from all their keys against trees built key by key: both pass the
// tree checker, hold the same keys in the same order, and the bulk-built tree goes on working
// under inserts and deletes.
#include "storage/index_bulk_build.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "storage/field_types.h"
#include "storage/index_tree_check.h"
#include "storage/little_endian.h"
#include "storage/record_image.h"

namespace kura {
namespace {

struct TCase {
  int CharSize;  // 0: the key is one integer, else a string of this size and an integer
  bool Unique;
  std::uint8_t Compression;
  bool Descending;
  int KeyCount;
};

// The index of a case: its fields, key format and page format.
struct TIndexShape {
  explicit TIndexShape(const TCase& c) {
    if (c.CharSize > 0) {
      Fields.push_back(
          MakeFieldDescriptor("NAME", kFieldTypeString, static_cast<std::uint8_t>(c.CharSize)));
    }
    Fields.push_back(MakeFieldDescriptor("N", kFieldTypeInteger));
    RecordSize = LayoutFields(Fields);
    TIndexDescriptor descriptor;
    descriptor.Unique = c.Unique;
    descriptor.Descending = c.Descending;
    descriptor.Compression = c.Compression;
    descriptor.KeyFieldCount = static_cast<std::uint8_t>(Fields.size());
    for (std::size_t i = 0; i < Fields.size(); ++i)
      descriptor.KeyFields[i] = static_cast<std::uint16_t>(i + 1);
    descriptor.KeyLength = static_cast<std::uint16_t>(KeyLengthOf(Fields, c.Unique));
    Keys = MakeKeyFormat(1, descriptor, Fields, {});
    Pages = PageFormatOf(1, descriptor);
  }

  std::vector<std::uint8_t> Key(const std::string& text, std::int32_t value, std::int32_t rowId) {
    std::vector<std::uint8_t> record(RecordSize, 0);
    if (Fields.size() == 2) SetField(record, Fields[0], text.c_str(), false, {});
    std::uint8_t bytes[4];
    PutI32LE(bytes, value);
    SetField(record, Fields.back(), bytes, false, {});
    SetRowId(record, rowId);
    std::vector<std::uint8_t> key(static_cast<std::size_t>(Keys.KeyLength));
    BuildKey(Keys, record, key);
    return key;
  }

  std::vector<TFieldDescriptor> Fields;
  std::size_t RecordSize = 0;
  TKeyFormat Keys;
  TPageFormat Pages;
};

// Every key of a tree in order, with its record.
std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> Walk(TIndexTree& tree,
                                                                     int keyLength) {
  std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> keys;
  tree.ForEachKey([&](const std::uint8_t* key, std::int32_t record) {
    keys.emplace_back(std::vector<std::uint8_t>(key, key + keyLength), record);
  });
  return keys;
}

TEST(IndexBulkBuild, RandomTreesMatchKeyByKeyInsertion) {
  std::mt19937 random(4242);
  std::vector<TCase> cases = {{0, true, kCompressNone, false, 0},
                              {0, true, kCompressNone, false, 1},
                              {0, false, kCompressNone, false, 314},     // one full leaf
                              {0, false, kCompressNone, false, 315},     // one more
                              {20, true, kCompressNone, false, 30000}};  // three levels
  for (int i = 0; i < 24; ++i) {
    const std::uint8_t compressions[] = {kCompressNone, kCompressDupBytes, kCompressTrailBytes,
                                         kCompressFull};
    cases.push_back({static_cast<int>(random() % 3) * 10, random() % 2 == 0,
                     compressions[random() % 4], random() % 2 == 0,
                     static_cast<int>(random() % 4000)});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.CharSize << " " << c.Unique << " " << int(c.Compression)
                                    << " " << c.Descending << " " << c.KeyCount);
    TIndexShape shape(c);
    TKeyBatch batch(shape.Keys.KeyLength);
    TMemoryPageStore inserted(1, shape.Pages);
    TIndexTree insertedTree(inserted, shape.Keys, shape.Pages);
    for (int n = 1; n <= c.KeyCount; ++n) {
      // Unique keys: the value n itself, in shuffled text; repeated values elsewhere.
      const std::int32_t value = c.Unique ? n : static_cast<std::int32_t>(random() % 50);
      const std::string text = "k" + std::to_string(random() % 97);
      const std::vector<std::uint8_t> key = shape.Key(text, value, n);
      if (!insertedTree.Insert(key.data(), n)) continue;
      batch.Add(key.data(), n);
    }
    TMemoryPageStore built(1, shape.Pages);
    ASSERT_TRUE(BuildTreeFromKeys(built, shape.Keys, shape.Pages, batch));
    TIndexTree builtTree(built, shape.Keys, shape.Pages);
    const TTreeCheckReport report = CheckIndexTree(built, shape.Keys, shape.Pages);
    ASSERT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(report.KeyCount, static_cast<std::int64_t>(batch.Size()));
    EXPECT_EQ(built.PinnedPages(), 0);
    EXPECT_LE(report.TreePages, CheckIndexTree(inserted, shape.Keys, shape.Pages).TreePages);
    if (c.KeyCount == 30000) {
      EXPECT_EQ(report.Levels, 3);
    }
    EXPECT_EQ(Walk(builtTree, shape.Keys.KeyLength), Walk(insertedTree, shape.Keys.KeyLength));
    if (c.Unique) {
      EXPECT_EQ(builtTree.KeyCount(), static_cast<std::int64_t>(batch.Size()));
    }

    // The built tree takes changes like any other: deletes of every third key, new keys.
    for (std::size_t i = 0; i < batch.Size(); i += 3) {
      ASSERT_TRUE(builtTree.Delete(batch.Key(i)));
      ASSERT_TRUE(insertedTree.Delete(batch.Key(i)));
    }
    for (int n = c.KeyCount + 1; n <= c.KeyCount + 300; ++n) {
      const std::vector<std::uint8_t> key = shape.Key("new", n, n);
      ASSERT_EQ(builtTree.Insert(key.data(), n), insertedTree.Insert(key.data(), n));
    }
    const TTreeCheckReport after = CheckIndexTree(built, shape.Keys, shape.Pages);
    ASSERT_TRUE(after.Ok()) << after.Text();
    EXPECT_EQ(Walk(builtTree, shape.Keys.KeyLength), Walk(insertedTree, shape.Keys.KeyLength));
  }
}

TEST(IndexBulkBuild, EqualKeysBuildNothing) {
  TIndexShape shape({0, true, kCompressNone, false, 0});
  TKeyBatch batch(shape.Keys.KeyLength);
  for (int n = 1; n <= 1000; ++n) batch.Add(shape.Key("", n == 700 ? 3 : n, n).data(), n);
  TMemoryPageStore store(1, shape.Pages);
  EXPECT_FALSE(BuildTreeFromKeys(store, shape.Keys, shape.Pages, batch));
  EXPECT_EQ(store.RootPage(), 0);
  EXPECT_EQ(store.NextPageNo(), 1);
}

}  // namespace
}  // namespace kura
