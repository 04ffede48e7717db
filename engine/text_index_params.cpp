#include "engine/text_index_params.h"

#include <algorithm>
#include <set>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "storage/little_endian.h"

namespace kura {
namespace {

void PutLength(std::vector<std::uint8_t>& out, std::size_t length) {
  const std::size_t at = out.size();
  out.resize(at + 4);
  PutI32LE(out.data() + at, static_cast<std::int32_t>(length));
}

void PutSet(std::vector<std::uint8_t>& out, const std::array<bool, 256>& set) {
  PutLength(out, kTextParamSetBytes);
  const std::size_t at = out.size();
  out.resize(at + kTextParamSetBytes, 0);
  for (std::size_t c = 0; c < set.size(); ++c)
    if (set[c]) out[at + c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
}

// Reads the stream item by item, raising 8965 for anything out of shape.
class TParamReader {
 public:
  TParamReader(std::span<const std::uint8_t> stream, std::string_view tableName)
      : FStream(stream), FTableName(tableName) {}

  std::int32_t Number() {
    const std::span<const std::uint8_t> bytes = Take(4);
    return GetI32LE(bytes.data());
  }
  std::span<const std::uint8_t> Item() {
    const std::int32_t length = Number();
    if (length < 0 || static_cast<std::size_t>(length) > kMaxTextParamItem) Corrupt();
    return Take(static_cast<std::size_t>(length));
  }
  std::array<bool, 256> Set() {
    const std::span<const std::uint8_t> bits = Item();
    if (bits.size() != kTextParamSetBytes) Corrupt();
    std::array<bool, 256> set{};
    for (int c = 0; c < 256; ++c) set[static_cast<std::size_t>(c)] = (bits[c / 8] >> (c % 8)) & 1;
    return set;
  }
  [[noreturn]] void Corrupt() const { RaiseTableError(codes::kIndexPagesCorrupt, FTableName); }

 private:
  std::span<const std::uint8_t> Take(std::size_t count) {
    if (FStream.size() - FAt < count) Corrupt();
    const std::span<const std::uint8_t> taken = FStream.subspan(FAt, count);
    FAt += count;
    return taken;
  }

  std::span<const std::uint8_t> FStream;
  std::string_view FTableName;
  std::size_t FAt = 0;
};

// The page numbers of the parameter chain, checked to be parameter pages.
std::vector<std::int32_t> ParamChain(TIndexFile& index, std::string_view tableName) {
  std::vector<std::int32_t> chain;
  std::set<std::int32_t> seen;
  for (std::int32_t pageNo = index.ParamPage(); pageNo != 0;) {
    if (!seen.insert(pageNo).second) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    TPage* page = index.GetPage(kSysTextSlot, pageNo);
    const bool params = page->Type == kPageParams && !page->Freed;
    const std::int32_t next = page->NextPage;
    index.ReleasePage(kSysTextSlot, page);
    if (!params) RaiseTableError(codes::kIndexPagesCorrupt, tableName);
    chain.push_back(pageNo);
    pageNo = next;
  }
  return chain;
}

}  // namespace

std::vector<std::uint8_t> EncodeTextIndexParams(const TTextIndexParams& params) {
  std::vector<std::uint8_t> out;
  PutLength(out, params.StopWords.size());
  for (const std::string& word : params.StopWords) {
    const std::size_t length = std::min(word.size(), kMaxTextParamItem);
    PutLength(out, length);
    out.insert(out.end(), word.begin(), word.begin() + static_cast<std::ptrdiff_t>(length));
  }
  PutSet(out, params.Space);
  PutSet(out, params.Include);
  return out;
}

TTextIndexParams DecodeTextIndexParams(std::span<const std::uint8_t> stream,
                                       std::string_view tableName) {
  TParamReader reader(stream, tableName);
  TTextIndexParams params;
  const std::int32_t count = reader.Number();
  if (count < 0) reader.Corrupt();
  // Each word takes at least its 4-byte length, so the stream bounds the count before any
  // word is kept.
  if (static_cast<std::size_t>(count) > stream.size() / 4) reader.Corrupt();
  for (std::int32_t i = 0; i < count; ++i) {
    const std::span<const std::uint8_t> word = reader.Item();
    params.StopWords.emplace_back(word.begin(), word.end());
  }
  params.Space = reader.Set();
  params.Include = reader.Set();
  return params;
}

TTextIndexParams LoadTextIndexParams(TIndexFile& index, std::string_view tableName) {
  if (index.ParamPage() == 0) return DefaultTextIndexParams();
  std::vector<std::uint8_t> stream;
  for (std::int32_t pageNo : ParamChain(index, tableName)) {
    TPage* page = index.GetPage(kSysTextSlot, pageNo);
    std::vector<std::uint8_t> bytes = page->Params;
    index.ReleasePage(kSysTextSlot, page);
    bytes.resize(kPageEntryArea, 0);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
  }
  return DecodeTextIndexParams(stream, tableName);
}

void StoreTextIndexParams(TIndexFile& index, const TTextIndexParams& params,
                          std::string_view tableName) {
  const std::vector<std::uint8_t> stream = EncodeTextIndexParams(params);
  const std::size_t needed =
      std::max<std::size_t>(1, (stream.size() + kPageEntryArea - 1) / kPageEntryArea);
  std::vector<std::int32_t> chain = ParamChain(index, tableName);
  std::vector<TPage*> pages;
  try {
    for (std::size_t i = 0; i < needed; ++i)
      pages.push_back(i < chain.size() ? index.GetPage(kSysTextSlot, chain[i])
                                       : index.NewPage(kSysTextSlot));
    for (std::size_t i = 0; i < needed; ++i) {
      TPage& page = *pages[i];
      const std::size_t from = i * kPageEntryArea;
      const std::size_t to = std::min(stream.size(), from + kPageEntryArea);
      page.Type = kPageParams;
      page.Freed = false;
      page.PrevPage = i > 0 ? pages[i - 1]->PageNo() : 0;
      page.NextPage = i + 1 < needed ? pages[i + 1]->PageNo() : 0;
      page.Params.assign(kPageEntryArea, 0);
      if (from < to)
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(from),
                  stream.begin() + static_cast<std::ptrdiff_t>(to), page.Params.begin());
      page.Changed = true;  // written back with the other changed pages
    }
    index.SetParamPage(pages.front()->PageNo());
    for (std::size_t i = needed; i < chain.size(); ++i) {
      TPage* spare = index.GetPage(kSysTextSlot, chain[i]);
      index.FreePage(kSysTextSlot, spare);
      index.ReleasePage(kSysTextSlot, spare);
    }
  } catch (...) {
    for (TPage* page : pages) index.ReleasePage(kSysTextSlot, page);
    throw;
  }
  for (TPage* page : pages) index.ReleasePage(kSysTextSlot, page);
}

}  // namespace kura
