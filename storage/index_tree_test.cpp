// The B+-tree algorithms: splits, merges, redistribution, root growth and collapse, free
// chains, ordinal positions, the tree checker on damaged trees, and a long random model test
// against an ordered container.
#include "storage/index_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/collation.h"
#include "storage/field_types.h"
#include "storage/index_tree_check.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

std::uint16_t RaisedCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const EKuraEngineError& e) {
    return e.ErrorCode;
  }
  return 0;
}

using TKey = std::vector<std::uint8_t>;

// An index over INTEGER, or over CHAR(n) and INTEGER, with records built in memory.
struct TIndexFixture {
  TIndexFixture(int charSize, bool unique, std::uint8_t compression, bool descending,
                TTableLocale locale, bool images, bool fieldDescending = false) {
    if (charSize > 0) {
      TFieldDescriptor text;
      text.FieldName = "NAME";
      text.FieldType = kFieldTypeString;
      text.FieldSize = static_cast<std::uint8_t>(charSize);
      Fields.push_back(text);
    }
    TFieldDescriptor number;
    number.FieldName = "N";
    number.FieldType = kFieldTypeInteger;
    Fields.push_back(number);
    RecordSize = LayoutFields(Fields);
    Descriptor.Unique = unique;
    Descriptor.Descending = descending;
    Descriptor.Compression = compression;
    Descriptor.KeyFieldCount = static_cast<std::uint8_t>(Fields.size());
    for (std::size_t i = 0; i < Fields.size(); ++i) {
      Descriptor.KeyFields[i] = static_cast<std::uint16_t>(i + 1);
    }
    Descriptor.FieldDescending[0] = fieldDescending;
    Descriptor.KeyLength = static_cast<std::uint16_t>(KeyLengthOf(Fields, unique));
    Keys = MakeKeyFormat(1, Descriptor, Fields, locale);
    Pages = PageFormatOf(1, Descriptor);
    Store = std::make_unique<TMemoryPageStore>(1, Pages, images);
    Tree = std::make_unique<TIndexTree>(*Store, Keys, Pages);
    Locale = locale;
  }

  TKey Key(const std::string& text, std::int32_t value, std::int32_t rowId) {
    std::vector<std::uint8_t> record(RecordSize, 0);
    if (Fields.size() == 2) SetField(record, Fields[0], text.c_str(), false, Locale);
    std::uint8_t bytes[4];
    PutI32LE(bytes, value);
    SetField(record, Fields.back(), bytes, false, Locale);
    SetRowId(record, rowId);
    TKey key(Keys.KeyLength);
    BuildKey(Keys, record, key);
    return key;
  }
  TKey IntKey(std::int32_t value, std::int32_t rowId = 1) { return Key("", value, rowId); }

  void ExpectSound() {
    TTreeCheckReport report = CheckIndexTree(*Store, Keys, Pages);
    EXPECT_TRUE(report.Ok()) << report.Text();
    EXPECT_EQ(Store->PinnedPages(), 0);
  }
  TPageRef Page(std::int32_t pageNo) { return TPageRef(*Store, Store->GetPage(pageNo)); }

  std::vector<TFieldDescriptor> Fields;
  std::size_t RecordSize = 0;
  TIndexDescriptor Descriptor;
  TKeyFormat Keys;
  TPageFormat Pages;
  TTableLocale Locale;
  std::unique_ptr<TMemoryPageStore> Store;
  std::unique_ptr<TIndexTree> Tree;
};

TEST(IndexTree, The315thKeySplitsAFullLeafInto158And157) {
  TIndexFixture t(0, false, kCompressNone, false, {}, false);
  ASSERT_EQ(t.Keys.KeyLength, 9);
  for (int i = 1; i <= 314; ++i) ASSERT_TRUE(t.Tree->Insert(t.IntKey(i, i).data(), i));
  EXPECT_EQ(t.Store->NextPageNo(), 2);  // one root leaf
  ASSERT_TRUE(t.Tree->Insert(t.IntKey(315, 315).data(), 315));
  std::int32_t root = t.Store->RootPage();
  TPageRef rootPage = t.Page(root);
  EXPECT_EQ(rootPage->Type, kPageRootBranch);
  ASSERT_EQ(rootPage->Count(), 2);
  TPageRef left = t.Page(rootPage->ChildOrRecord(1));
  TPageRef right = t.Page(rootPage->ChildOrRecord(2));
  EXPECT_EQ(left->Count(), 158);
  EXPECT_EQ(right->Count(), 157);
  EXPECT_EQ(rootPage->KeyCount(1), 158);
  EXPECT_EQ(rootPage->KeyCount(2), 157);
  EXPECT_EQ(left->Type, kPageLeaf);
  EXPECT_EQ(left->NextPage, right->PageNo());
  EXPECT_EQ(right->PrevPage, left->PageNo());
  rootPage.Reset();
  left.Reset();
  right.Reset();
  t.ExpectSound();
}

TEST(IndexTree, ThreePageTreeCollapsesToItsChildAndAnEmptyTreeFreesItsRoot) {
  TIndexFixture t(0, false, kCompressNone, false, {}, false);
  for (int i = 1; i <= 315; ++i) ASSERT_TRUE(t.Tree->Insert(t.IntKey(i).data(), i));
  ASSERT_EQ(t.Store->NextPageNo(), 4);  // two leaves and the root branch
  // Deleting from the right leaf makes it underfull; the pair merges into the left leaf and
  // the root, left with one child, hands over to it.
  int i = 315;
  while (t.Page(t.Store->RootPage())->Type == kPageRootBranch) {
    ASSERT_TRUE(t.Tree->Delete(t.IntKey(i--).data()));
    t.ExpectSound();
  }
  TPageRef root = t.Page(t.Store->RootPage());
  EXPECT_EQ(root->Type, kPageRootLeaf);
  EXPECT_EQ(root->PrevPage, 0);
  EXPECT_EQ(root->NextPage, 0);
  EXPECT_EQ(root->Count(), i);
  root.Reset();
  TTreeCheckReport report = CheckIndexTree(*t.Store, t.Keys, t.Pages);
  EXPECT_EQ(report.FreePages, 2);
  for (; i >= 1; --i) ASSERT_TRUE(t.Tree->Delete(t.IntKey(i).data()));
  EXPECT_EQ(t.Store->RootPage(), 0);
  report = CheckIndexTree(*t.Store, t.Keys, t.Pages);
  EXPECT_EQ(report.FreePages, 3);
  // New pages come from the free chain before the file grows.
  ASSERT_TRUE(t.Tree->Insert(t.IntKey(1).data(), 1));
  EXPECT_EQ(t.Store->NextPageNo(), 4);
  t.ExpectSound();
}

TEST(IndexTree, AnEmptiedCompressedLeafLeavesItsChain) {
  TIndexFixture t(0, true, kCompressFull, false, {}, false);
  int n = 0;
  while (t.Store->NextPageNo() < 4) {  // two leaves and a root
    ++n;
    ASSERT_TRUE(t.Tree->Insert(t.IntKey(n).data(), n));
  }
  TPageRef root = t.Page(t.Store->RootPage());
  ASSERT_EQ(root->Count(), 2);
  std::int32_t leftNo = root->ChildOrRecord(1);
  std::int32_t rightNo = root->ChildOrRecord(2);
  TPageRef rightPage = t.Page(rightNo);
  int rightCount = rightPage->Count();
  root.Reset();
  rightPage.Reset();
  // The right leaf keeps its entries however few remain (no rebalancing).
  for (int i = 0; i < rightCount - 1; ++i) ASSERT_TRUE(t.Tree->Delete(t.IntKey(n--).data()));
  EXPECT_EQ(t.Page(rightNo)->Count(), 1);
  EXPECT_EQ(t.Page(t.Store->RootPage())->Count(), 2);
  t.ExpectSound();
  ASSERT_TRUE(t.Tree->Delete(t.IntKey(n--).data()));
  // Emptied: gone from the chain and the root; the root then collapses.
  EXPECT_EQ(t.Store->RootPage(), leftNo);
  EXPECT_EQ(t.Page(leftNo)->NextPage, 0);
  EXPECT_EQ(t.Store->FreePageHead() != 0, true);
  t.ExpectSound();
}

TEST(IndexTree, OrdinalsComeFromTheCounts) {
  TIndexFixture t(0, false, kCompressNone, true, {}, false);
  for (int i = 1; i <= 2000; ++i) ASSERT_TRUE(t.Tree->Insert(t.IntKey(i % 97, i).data(), i));
  EXPECT_EQ(t.Tree->KeyCount(), 2000);
  // Descending: the largest value first; CountBelow counts the keys ordered before.
  TKey probe = t.IntKey(96, 0x7FFFFFFF);
  EXPECT_EQ(t.Tree->CountBelow(probe.data()), 0);
  TKey key(t.Keys.KeyLength);
  std::int32_t recordNo = 0;
  ASSERT_TRUE(t.Tree->KeyAtOrdinal(2000, key, recordNo));
  EXPECT_EQ(key, t.IntKey(0, 97));
  EXPECT_EQ(recordNo, 97);
  EXPECT_FALSE(t.Tree->KeyAtOrdinal(2001, key, recordNo));
  t.ExpectSound();
}

TEST(IndexTree, DamagedTreesAreReportedAndRefused) {
  TIndexFixture t(0, true, kCompressNone, false, {}, false);
  for (int i = 1; i <= 1000; ++i) ASSERT_TRUE(t.Tree->Insert(t.IntKey(i).data(), i));
  t.ExpectSound();
  std::int32_t rootNo = t.Store->RootPage();
  {
    TPageRef root = t.Page(rootNo);
    root->SetKeyCount(2, root->KeyCount(2) + 1);  // a count that lies
  }
  EXPECT_FALSE(CheckIndexTree(*t.Store, t.Keys, t.Pages).Ok());
  std::int32_t childNo = 0;
  {
    TPageRef root = t.Page(rootNo);
    root->SetKeyCount(2, root->KeyCount(2) - 1);
    childNo = root->ChildOrRecord(2);
    TPageRef child = t.Page(childNo);
    child->NextPage = childNo;  // a page that links to itself
  }
  EXPECT_FALSE(CheckIndexTree(*t.Store, t.Keys, t.Pages).Ok());
  {
    TPageRef child = t.Page(childNo);
    child->NextPage = t.Page(rootNo)->ChildOrRecord(3);
    TPageRef root = t.Page(rootNo);
    root->SetChildOrRecord(1, 4000);  // a child past NextPageNo
  }
  EXPECT_FALSE(CheckIndexTree(*t.Store, t.Keys, t.Pages).Ok());
  EXPECT_EQ(RaisedCode([&] { t.Tree->Insert(t.IntKey(-5).data(), 1); }), codes::kIndexPagesCorrupt);
  {
    TPageRef root = t.Page(rootNo);
    root->SetChildOrRecord(1, rootNo);  // a branch whose child is itself: a descent that loops
  }
  EXPECT_EQ(RaisedCode([&] { t.Tree->Insert(t.IntKey(-5).data(), 1); }), codes::kIndexPagesCorrupt);
  EXPECT_FALSE(CheckIndexTree(*t.Store, t.Keys, t.Pages).Ok());
  EXPECT_EQ(t.Store->PinnedPages(), 0);
}

// --- Model test ----------------------------------------------------------------------------

struct TModelCase {
  int CharSize;
  bool Unique;
  std::uint8_t Compression;
  bool Descending;
  bool Locale;
  bool FieldDescending;
};

class IndexTreeModel : public testing::TestWithParam<TModelCase> {};

// Random inserts and deletes in growing and shrinking phases, checked after every batch
// against an ordered container: order, every ordinal, record numbers, and the tree checker.
TEST_P(IndexTreeModel, MatchesAnOrderedContainer) {
  const TModelCase c = GetParam();
  TTableLocale locale;
  if (c.Locale) {
    locale = {0x0407, 0};  // German
    if (!LocaleInstalled(locale.LanguageId, locale.SortId)) GTEST_SKIP() << "no collation";
  }
  const bool images = c.Compression % 2 == 1;
  TIndexFixture t(c.CharSize, c.Unique, c.Compression, c.Descending, locale, images,
                  c.FieldDescending);
  auto less = [&](const TKey& a, const TKey& b) {
    return CompareKeys(t.Keys, a.data(), b.data()) < 0;
  };
  std::map<TKey, std::int32_t, decltype(less)> model(less);
  std::mt19937 random(1234 + c.CharSize * 7 + c.Compression * 3 + (c.Unique ? 1 : 0) +
                      (c.Descending ? 11 : 0) + (c.Locale ? 13 : 0));
  const char* alphabet = "aAbBc ";
  auto randomKey = [&] {
    std::string text;
    int length = static_cast<int>(random() % (c.CharSize + 1));
    for (int i = 0; i < length; ++i) text += alphabet[random() % 6];
    std::int32_t value = static_cast<std::int32_t>(random() % 200) - 100;
    std::int32_t rowId = static_cast<std::int32_t>(random() % 50) + 1;
    return t.Key(text, value, rowId);
  };
  // Locale comparisons go through the collator and cost more: fewer batches there.
  const int kBatches = c.Locale ? 16 : 24;
  constexpr int kBatchSize = 400;
  std::int32_t nextRecord = 1;
  for (int batch = 0; batch < kBatches; ++batch) {
    // Phases: grow, shrink towards empty, grow again.
    int phase = (batch / 6) % 2;
    for (int op = 0; op < kBatchSize; ++op) {
      bool insert = phase == 0 ? random() % 10 < 7 : random() % 10 < 2;
      if (insert || model.empty()) {
        TKey key = randomKey();
        bool fresh = model.find(key) == model.end();
        ASSERT_EQ(t.Tree->Insert(key.data(), nextRecord), fresh);
        if (fresh) model.emplace(key, nextRecord);
        ++nextRecord;
      } else {
        auto it = model.begin();
        std::advance(it, random() % model.size());
        ASSERT_TRUE(t.Tree->Delete(it->first.data()));
        model.erase(it);
        TKey absent = randomKey();
        if (model.find(absent) == model.end()) {
          ASSERT_FALSE(t.Tree->Delete(absent.data()));
        }
      }
    }
    SCOPED_TRACE(testing::Message() << "batch " << batch << " keys " << model.size());
    TTreeCheckReport report = CheckIndexTree(*t.Store, t.Keys, t.Pages);
    ASSERT_TRUE(report.Ok()) << report.Text();
    ASSERT_EQ(report.KeyCount, static_cast<std::int64_t>(model.size()));
    ASSERT_EQ(t.Tree->KeyCount(), static_cast<std::int64_t>(model.size()));
    auto expected = model.begin();
    t.Tree->ForEachKey([&](const std::uint8_t* key, std::int32_t recordNo) {
      ASSERT_NE(expected, model.end());
      ASSERT_EQ(std::memcmp(key, expected->first.data(), t.Keys.KeyLength), 0);
      ASSERT_EQ(recordNo, expected->second);
      ++expected;
    });
    ASSERT_EQ(expected, model.end());
    std::int64_t ordinal = 1;
    TKey found(t.Keys.KeyLength);
    for (const auto& [key, recordNo] : model) {
      TTreePosition position = t.Tree->SeekFirstGE(key.data());
      ASSERT_TRUE(position.Found);
      ASSERT_EQ(position.Ordinal, ordinal);
      std::int32_t foundRecord = 0;
      ASSERT_TRUE(t.Tree->KeyAtOrdinal(ordinal, found, foundRecord));
      ASSERT_EQ(found, key);
      ASSERT_EQ(foundRecord, recordNo);
      ++ordinal;
    }
    ASSERT_EQ(t.Store->PinnedPages(), 0);
  }
}

std::vector<TModelCase> ModelCases() {
  std::vector<TModelCase> cases;
  for (bool unique : {true, false}) {
    for (std::uint8_t compression = 0; compression <= 3; ++compression) {
      for (bool descending : {false, true}) {
        for (bool locale : {false, true}) {
          int charSize = (compression + (descending ? 1 : 0)) % 2 == 0 ? 6 : 120;
          bool fieldDescending = !descending && (compression == 1 || compression == 2);
          cases.push_back({charSize, unique, compression, descending, locale, fieldDescending});
        }
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryIndexKind, IndexTreeModel, testing::ValuesIn(ModelCases()),
                         [](const testing::TestParamInfo<TModelCase>& info) {
                           const TModelCase& c = info.param;
                           return std::string(c.Unique ? "Unique" : "NonUnique") + "Mode" +
                                  std::to_string(c.Compression) + (c.Descending ? "Desc" : "Asc") +
                                  (c.FieldDescending ? "FieldDesc" : "") +
                                  (c.Locale ? "Locale" : "Bytes") + "Char" +
                                  std::to_string(c.CharSize);
                         });

}  // namespace
}  // namespace kura
