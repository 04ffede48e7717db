#include "tools/kura/stress_worker.h"

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "base/engine_error.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "tools/kura/stress_journal.h"
#include "tools/kura/stress_row_access.h"

namespace kura::tool {
namespace {

using TBuffer = std::vector<std::uint8_t>;
using TClock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxBlobLength = 3000;
constexpr int kGroups = 10;

// A read found the table disagreeing with what this worker wrote.
class EStressMismatch : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int RefusalKind(std::uint16_t code) {
  for (int kind = 0; kind < kStressRefusalKinds; ++kind)
    if (kStressRefusalCodes[kind] == code) return kind;
  return -1;
}

// The rows a worker owns, as it last wrote them: any one of them drawn in constant time.
class TOwnedRows {
 public:
  bool empty() const { return FRows.empty(); }
  std::size_t size() const { return FRows.size(); }
  const TStressRow& At(std::size_t i) const { return FRows[i]; }
  void Put(const TStressRow& row) {
    const auto [where, added] = FPlace.emplace(row.Id, FRows.size());
    if (added) {
      FRows.push_back(row);
    } else {
      FRows[where->second] = row;
    }
  }
  void Erase(std::int32_t id) {
    const auto where = FPlace.find(id);
    if (where == FPlace.end()) return;
    const std::size_t i = where->second;
    FPlace.erase(where);
    if (i + 1 != FRows.size()) {
      FRows[i] = FRows.back();
      FPlace[FRows[i].Id] = i;
    }
    FRows.pop_back();
  }
  TStressRows ById() const {
    TStressRows rows;
    for (const TStressRow& row : FRows) rows.emplace(row.Id, row);
    return rows;
  }

 private:
  std::vector<TStressRow> FRows;
  std::unordered_map<std::int32_t, std::size_t> FPlace;
};

class TStressWorker {
 public:
  TStressWorker(const TStressOptions& options, const TStressStart& start, TStressCounters& counters)
      : FOptions(options),
        FStart(start),
        FCounters(counters),
        FSession(false, FFiles),
        FDirectory(FSession.OpenDirectory("Stress", options.Dir)),
        FRandom(options.Seed * 1000003u + static_cast<std::uint32_t>(start.Process)),
        FJournal(StressJournalName(options.Dir, start.Process), std::ios::app),
        FNextSequence(start.NextSequence),
        FNextTag(start.NextTag) {
    if (!FJournal)
      throw std::runtime_error("cannot write " + StressJournalName(options.Dir, start.Process));
    // Both ways of noticing the others' changes: odd workers re-read the headers on every
    // step, even ones only when a read misses the cache.
    FSession.SetStrictChangeDetection(start.Process % 2 == 1);
    FKeys = OpenCursor("");
    FGroups = OpenCursor("ByGroup");
  }

  ~TStressWorker() {
    FKeys.reset();
    FGroups.reset();
  }

  void Run() {
    const TClock::time_point end =
        TClock::now() +
        std::chrono::milliseconds(static_cast<std::int64_t>(FOptions.Seconds * 1000));
    for (std::int64_t op = 0; op < FOptions.Ops; ++op) {
      if (FOptions.Seconds > 0 && TClock::now() >= end) break;
      RunOne();
      ++FCounters.Operations;
    }
    CheckOwnBand();
  }

 private:
  std::unique_ptr<TDataCursor> OpenCursor(const std::string& index) {
    auto cursor = std::make_unique<TDataCursor>(FDirectory);
    cursor->SetTableName(kStressTableName);
    cursor->Open();
    if (!index.empty()) cursor->SetIndexName(index);
    return cursor;
  }

  int Draw(int below) { return static_cast<int>(FRandom() % static_cast<std::uint32_t>(below)); }

  // One operation of the mix; an expected refusal is counted and leaves the model as it was.
  void RunOne() {
    try {
      RunOneChange();
    } catch (const EKuraEngineError& error) {
      const int kind = RefusalKind(error.ErrorCode);
      if (kind < 0) throw;
      ++FCounters.Refused[kind];
      FKeys->CancelEdit();
      FKeys->FreeBlobs();
      FGroups->CancelEdit();
      FGroups->FreeBlobs();
      FHoldOps = 0;
    }
    // A foreign record locked by ReadAny stays locked through one more operation.
    if (FHoldOps > 0 && --FHoldOps == 0) FGroups->CancelEdit();
  }

  void RunOneChange() {
    const int pick = Draw(100);
    if (FRows.empty() || pick < 25) {
      Insert();
    } else if (pick < 42) {
      Edit(false);
    } else if (pick < 52) {
      Edit(true);
    } else if (pick < 60) {
      Delete();
    } else if (pick < 75) {
      WriteBlob();
    } else if (pick < 88) {
      ReadOwn();
    } else {
      ReadAny();
    }
  }

  // The next number of the worker's band (IDs or BLOB tags); a table reused for many runs
  // may use a band up.
  std::int32_t InBand(std::int32_t& next) {
    if (next >= kStressBand)
      throw std::runtime_error("the IDs of this worker's band are used up; start on a new table");
    return (FStart.Process + 1) * kStressBand + next++;
  }
  std::int32_t NewId() { return InBand(FNextSequence); }
  std::int32_t NewTag() { return InBand(FNextTag); }
  std::string NewGroup() { return StressGroup(Draw(kGroups)); }

  const TStressRow& SomeRow() {
    return FRows.At(static_cast<std::size_t>(Draw(static_cast<int>(FRows.size()))));
  }

  void Journal(const std::string& line) {
    FJournal << line << '\n';
    FJournal.flush();
    if (!FJournal) throw std::runtime_error("cannot append to the journal");
  }

  // Gives the buffer new BLOB contents under a new tag.
  void GiveBlob(TStressRow& row, TBuffer& buffer) {
    row.BlobTag = NewTag();
    row.BlobLength = static_cast<std::uint32_t>(Draw(kMaxBlobLength + 1));
    WriteStressBlob(*FKeys, buffer, row.BlobTag, row.BlobLength);
  }

  void Insert() {
    TStressRow row{NewId(), "", NewGroup(), 1, 0, 0};
    row.Code = StressCode(row.Id);
    // Now and then a key that exists, in the primary or the unique index: 9729 expected.
    const bool duplicate = !FRows.empty() && Draw(20) == 0;
    TStressRow posted = row;
    if (duplicate) {
      const TStressRow& other = SomeRow();
      if (Draw(2) == 0)
        posted.Id = other.Id;
      else
        posted.Code = other.Code;
    }
    TBuffer buffer(FKeys->RecordSize());
    FKeys->InitNewRecord(buffer);
    StoreStressRow(*FKeys, buffer, posted);
    if (Draw(2) == 0) {
      GiveBlob(posted, buffer);
      StoreStressRow(*FKeys, buffer, posted);
    }
    FKeys->PostInsert(buffer, false);
    if (duplicate) throw EStressMismatch("the insert of an existing key was accepted");
    FRows.Put(posted);
    ++FCounters.Inserts;
    Journal(InsertLine(posted));
  }

  // The own row placed under the keys cursor and locked for editing, in the buffer.
  void StartEdit(const TStressRow& row, TBuffer& buffer) {
    FindOwn(row, buffer);
    const std::uint16_t answer = FKeys->GetCurrentRecord(buffer, true);
    if (answer != 0) throw EKuraEngineError(answer);
  }

  void FindOwn(const TStressRow& row, TBuffer& buffer) {
    TBuffer probe(FKeys->RecordSize());
    FKeys->InitNewRecord(probe);
    StoreStressRow(*FKeys, probe, row);
    buffer.assign(FKeys->RecordSize(), 0);
    if (!FKeys->FindKey(false, probe, buffer, 0, false, 0))
      throw EStressMismatch("own row " + std::to_string(row.Id) + " not found");
  }

  void Edit(bool keys) {
    TStressRow row = SomeRow();
    const std::int32_t oldId = row.Id;
    TBuffer buffer;
    StartEdit(row, buffer);
    ++row.Version;
    if (keys && Draw(2) == 0) {
      row.Id = NewId();
      row.Code = StressCode(row.Id);
    } else if (keys) {
      row.Group = NewGroup();
    }
    StoreStressRow(*FKeys, buffer, row);
    FKeys->PostEdit(buffer, true, false);
    Acknowledge(oldId, row);
    ++(keys ? FCounters.KeyEdits : FCounters.Edits);
  }

  void WriteBlob() {
    TStressRow row = SomeRow();
    TBuffer buffer;
    StartEdit(row, buffer);
    ++row.Version;
    GiveBlob(row, buffer);
    StoreStressRow(*FKeys, buffer, row);
    FKeys->PostEdit(buffer, true, false);
    Acknowledge(row.Id, row);
    ++FCounters.BlobWrites;
  }

  void Acknowledge(std::int32_t oldId, const TStressRow& row) {
    FRows.Erase(oldId);
    FRows.Put(row);
    Journal(EditLine(oldId, row));
  }

  void Delete() {
    const TStressRow row = SomeRow();
    TBuffer buffer;
    FindOwn(row, buffer);
    FKeys->DeleteRecord(buffer, false);
    FRows.Erase(row.Id);
    ++FCounters.Deletes;
    Journal(DeleteLine(row.Id));
  }

  // An own row read back must be exactly what this worker last wrote.
  void ReadOwn() {
    const TStressRow& row = SomeRow();
    TBuffer buffer;
    FindOwn(row, buffer);
    const TStoredStressRow stored = ReadStressRow(*FKeys, buffer);
    if (!(stored.Row == row) || stored.Blob != StressBlobBytes(row.BlobTag, row.BlobLength))
      throw EStressMismatch("own row " + std::to_string(row.Id) + " reads back changed");
    ++FCounters.Reads;
  }

  // Any row near a random group: its BLOB must be the one its tag names. Now and then the
  // row read the time before is locked first, with the image seen then (8708 when its owner
  // changed it meanwhile), and held through this worker's next operation, so that its owner
  // waits for the lock or meets 10258.
  void ReadAny() {
    if (FHoldOps > 0) {
      FGroups->CancelEdit();
      FHoldOps = 0;
    }
    if (!FSeen.empty() && Draw(3) == 0) {
      TBuffer seen;
      seen.swap(FSeen);
      ++FCounters.Locks;
      if (FGroups->GetCurrentRecord(seen, true) == 0) FHoldOps = 2;
      return;
    }
    TBuffer probe(FGroups->RecordSize());
    FGroups->InitNewRecord(probe);
    TStressRow near;
    near.Group = NewGroup();
    StoreStressRow(*FGroups, probe, near);
    TBuffer buffer(FGroups->RecordSize());
    FGroups->FindKey(false, probe, buffer, 0, true, 1);
    if (FGroups->GetCurrentRecord(buffer) != 0) return;
    FSeen = buffer;
    const TStoredStressRow stored = ReadStressRow(*FGroups, buffer);
    if (stored.Blob != StressBlobBytes(stored.Row.BlobTag, stored.Row.BlobLength))
      throw EStressMismatch("row " + std::to_string(stored.Row.Id) +
                            " holds a BLOB that is not the one of its tag");
    ++FCounters.Reads;
  }

  // At the end, while others may still be running: a range over this worker's band of IDs
  // counts and holds exactly the rows it owns, as it last wrote them.
  void CheckOwnBand() {
    FKeys->CancelEdit();
    TStressRow low, high;
    low.Id = (FStart.Process + 1) * kStressBand;
    high.Id = low.Id + kStressBand - 1;
    TBuffer start(FKeys->RecordSize()), end(FKeys->RecordSize());
    FKeys->InitNewRecord(start);
    FKeys->InitNewRecord(end);
    StoreStressRow(*FKeys, start, low);
    StoreStressRow(*FKeys, end, high);
    FKeys->SetRange(false, start, 1, end, 1);
    std::map<std::int32_t, TStressRow> seen;
    const std::int64_t counted = FKeys->RecordCount();
    FKeys->First();
    TBuffer buffer(FKeys->RecordSize());
    while (FKeys->GetNextRecord(buffer) == 0) {
      const TStoredStressRow stored = ReadStressRow(*FKeys, buffer);
      seen[stored.Row.Id] = stored.Row;
    }
    FKeys->CancelRange();
    if (counted != static_cast<std::int64_t>(seen.size()))
      throw EStressMismatch("the range over its own IDs counts " + std::to_string(counted) +
                            " rows but holds " + std::to_string(seen.size()));
    // Rows a reused table held in the band before this run are not the worker's to check.
    std::erase_if(seen,
                  [&](const auto& entry) { return entry.first < low.Id + FStart.NextSequence; });
    if (seen != FRows.ById())
      throw EStressMismatch("the range over its own IDs holds " + std::to_string(seen.size()) +
                            " rows that differ from the " + std::to_string(FRows.size()) +
                            " it wrote");
  }

  const TStressOptions& FOptions;
  const TStressStart FStart;
  TStressCounters& FCounters;
  TFileList FFiles;
  TDataSession FSession;
  TDataDirectory& FDirectory;
  std::mt19937 FRandom;
  std::ofstream FJournal;
  std::int32_t FNextSequence;
  std::int32_t FNextTag;
  std::unique_ptr<TDataCursor> FKeys;
  std::unique_ptr<TDataCursor> FGroups;
  // The record image the groups cursor read last (before its BLOB was opened), and the
  // operations left until the lock ReadAny took is given back.
  TBuffer FSeen;
  int FHoldOps = 0;
  // The rows this worker owns, as it last wrote them.
  TOwnedRows FRows;
};

}  // namespace

std::string StressJournalName(const std::string& dir, int process) {
  return dir + "/stress-" + std::to_string(process) + ".journal";
}

int RunStressWorker(const TStressOptions& options, const TStressStart& start,
                    TStressCounters& counters, std::ostream& err) {
  try {
    TStressWorker worker(options, start, counters);
    worker.Run();
    return 0;
  } catch (const std::exception& error) {
    ++counters.Failures;
    err << "kura stress: process " << start.Process << " (--seed " << options.Seed
        << "), operation " << counters.Operations.load() + 1 << ": " << error.what() << std::endl;
  }
  return 1;
}

}  // namespace kura::tool
