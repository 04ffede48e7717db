// The filter list of a cursor: adding, dropping, switching and replacing filters, the
// bitmap of each active filter, and their upkeep after the cursor's own changes.
//
// Every active filter's bitmap starts from the base records (Live, and InRange with a
// range); a filter kept after the others (AfterOthers) that is not answered from indexes
// alone starts from what the active filters before it let through, so that its records are
// read (and its callback called) only for those. Visible is the base and-ed with every
// active filter's bitmap.
#include <algorithm>
#include <string>

#include "base/engine_codes.h"
#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_table.h"
#include "engine/filter_index_access.h"

namespace kura {

TFilter* TDataCursor::AddFilter(std::unique_ptr<TFilterCondition> condition,
                                TFilterCallback callback, const TFilterFlags& flags) {
  RequireOpen();
  if (condition == nullptr && !callback)
    RaiseError(codes::kFilterError, "filter expression is invalid");
  if (FFilters.size() >= kMaxCursorFilters) RaiseError(codes::kTooManyFilters);
  auto filter = std::make_unique<TFilter>(std::move(condition), std::move(callback), flags);
  if (filter->FCondition != nullptr) {
    TFilterIndexAccess access(*this, flags.UseComplement);
    RunStepOf([&] { filter->FLevel = AnalyseFor(*filter->FCondition, flags, access); });
  }
  TFilter* added = filter.get();
  auto at = FFilters.end();
  if (!flags.AfterOthers) {
    at = std::find_if(FFilters.begin(), FFilters.end(),
                      [](const std::unique_ptr<TFilter>& f) { return f->AfterOthers(); });
  }
  FFilters.insert(at, std::move(filter));
  return added;
}

std::size_t TDataCursor::FilterIndex(const TFilter* filter) const {
  for (std::size_t i = 0; i < FFilters.size(); ++i) {
    if (FFilters[i].get() == filter) return i;
  }
  RaiseError(codes::kInvalidFilterHandle);
  return 0;
}

bool TDataCursor::AnyFilterActive() const {
  return std::any_of(FFilters.begin(), FFilters.end(),
                     [](const std::unique_ptr<TFilter>& f) { return f->Active(); });
}

void TDataCursor::DropFilter(TFilter* filter) {
  RequireOpen();
  if (filter == nullptr) {
    FFilters.clear();
  } else {
    FFilters.erase(FFilters.begin() + static_cast<std::ptrdiff_t>(FilterIndex(filter)));
  }
  FilterStateChanged(AnyFilterActive());
}

void TDataCursor::ActivateFilter(TFilter* filter) {
  RequireOpen();
  if (filter == nullptr) {
    for (auto& f : FFilters) f->FActive = true;
  } else {
    FFilters[FilterIndex(filter)]->FActive = true;
  }
  FilterStateChanged(AnyFilterActive());
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  RequireOpen();
  if (filter == nullptr) {
    for (auto& f : FFilters) f->FActive = false;
  } else {
    FFilters[FilterIndex(filter)]->FActive = false;
  }
  for (auto& f : FFilters) {
    if (!f->FActive) f->FBitmap.SetSize(0);
  }
  FilterStateChanged(AnyFilterActive());
}

void TDataCursor::ReplaceFilterExpression(TFilter* filter,
                                          std::unique_ptr<TFilterCondition> condition) {
  RequireOpen();
  TFilter& target = *FFilters[FilterIndex(filter)];
  if (!target.FActive || target.IsCallback() || condition == nullptr)
    RaiseError(codes::kInvalidFilterHandle);
  TFilterIndexAccess access(*this, target.FFlags.UseComplement);
  RunStepOf([&] { target.FLevel = AnalyseFor(*condition, target.FFlags, access); });
  target.FCondition = std::move(condition);
  FilterStateChanged(AnyFilterActive());
}

// The cost rule applies only on the source tables of SQL statements, and only to filters that
// allow the complement scan.
int TDataCursor::AnalyseFor(TFilterCondition& condition, const TFilterFlags& flags,
                            TFilterIndexAccess& access) {
  return condition.Analyse(access, flags.Estimate, FSqlSource && flags.UseComplement);
}

int TDataCursor::AnalyseCondition(TFilterCondition& condition, bool estimate, bool costRule) {
  RequireOpen();
  TFilterIndexAccess access(*this, true);
  int level = kLevelRecords;
  RunStepOf([&] { level = condition.Analyse(access, estimate, costRule); });
  return level;
}

// --- Bitmaps ------------------------------------------------------------------------------

void TDataCursor::EvaluateFilter(TFilter& filter, TRecordsBitmap& bitmap) {
  TFilterIndexAccess access(*this, filter.FFlags.UseComplement);
  try {
    if (filter.FCondition != nullptr) {
      filter.FLevel = AnalyseFor(*filter.FCondition, filter.FFlags, access);
      filter.FCondition->Evaluate(access, bitmap);
    } else {
      access.EvaluateRecords(bitmap, [&](std::span<const std::uint8_t> record, std::int32_t n) {
        return filter.FCallback(*this, record, n);
      });
    }
  } catch (...) {
    FFilterRecordsRead += access.RecordsRead();
    throw;
  }
  FFilterRecordsRead += access.RecordsRead();
}

std::vector<TRecordsBitmap> TDataCursor::BuildFilterBitmaps(const TRecordsBitmap& base) {
  std::vector<TRecordsBitmap> bitmaps(FFilters.size());
  for (std::size_t i = 0; i < FFilters.size(); ++i) {
    TFilter& filter = *FFilters[i];
    if (!filter.FActive) continue;
    TRecordsBitmap& bitmap = bitmaps[i];
    bitmap.SetSize(base.Size());
    bitmap.Assign(base);
    if (filter.AfterOthers() && filter.FLevel != kLevelServed) {
      for (std::size_t j = 0; j < i; ++j) {
        if (FFilters[j]->FActive) bitmap.AndWith(bitmaps[j]);
      }
    }
    EvaluateFilter(filter, bitmap);
  }
  return bitmaps;
}

bool TDataCursor::UpdateFilterBitsFor(std::uint32_t bit, std::span<const std::uint8_t> image) {
  bool passes = !image.empty();
  const auto tableSize = static_cast<std::size_t>(FTable->Data().RecordSize());
  const std::span<const std::uint8_t> record = image.first(std::min(image.size(), tableSize));
  for (auto& filter : FFilters) {
    if (!filter->FActive) continue;
    GrowCleared(filter->FBitmap, bit);
    // Once a filter refuses the record the later ones are not asked, so a filter after the
    // others sees only records the earlier ones passed.
    bool ok = passes;
    if (ok) {
      ok = filter->FCondition != nullptr
               ? filter->FCondition->Passes(*this, record)
               : filter->FCallback(*this, record, static_cast<std::int32_t>(bit));
    }
    if (ok) {
      filter->FBitmap.SetBit(bit);
    } else {
      filter->FBitmap.ClearBit(bit);
    }
    passes = passes && ok;
  }
  return passes;
}

void TDataCursor::CloneFilters(TDataCursor& clone) const {
  for (const auto& filter : FFilters) {
    std::unique_ptr<TFilterCondition> condition =
        filter->FCondition != nullptr ? filter->FCondition->Copy() : nullptr;
    TFilter* copy = clone.AddFilter(std::move(condition), filter->FCallback, filter->FFlags);
    copy->FActive = filter->FActive;
  }
  if (clone.AnyFilterActive()) clone.FilterStateChanged(true);
}

}  // namespace kura
