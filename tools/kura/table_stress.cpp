#include "tools/kura/table_stress.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <new>
#include <stdexcept>
#include <thread>

#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "tools/kura/stress_journal.h"
#include "tools/kura/stress_row_access.h"
#include "tools/kura/stress_worker.h"
#include "tools/kura/table_reader.h"
#include "tools/kura/table_verify.h"

namespace kura::tool {
namespace {

using TClock = std::chrono::steady_clock;

// The counters of every worker in memory shared with the forked workers.
class TSharedCounters {
 public:
  explicit TSharedCounters(int count) : FCount(count) {
    FBytes = sizeof(TStressCounters) * static_cast<std::size_t>(count);
    void* memory = mmap(nullptr, FBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("cannot map memory for the counters");
    FCounters = static_cast<TStressCounters*>(memory);
    for (int i = 0; i < count; ++i) new (&FCounters[i]) TStressCounters();
  }
  ~TSharedCounters() {
    for (int i = 0; i < FCount; ++i) FCounters[i].~TStressCounters();
    munmap(FCounters, FBytes);
  }
  TSharedCounters(const TSharedCounters&) = delete;
  TSharedCounters& operator=(const TSharedCounters&) = delete;
  TStressCounters& operator[](int i) { return FCounters[i]; }

 private:
  int FCount;
  std::size_t FBytes = 0;
  TStressCounters* FCounters = nullptr;
};

// What the table held before the workers started, and where each worker's band continues.
struct TStressBaseline {
  TStressRows Rows;
  std::vector<TStressStart> Starts;
};

TStressBaseline PrepareTable(const TStressOptions& options, TFileList& list) {
  TDataSession session(false, list);
  TDataDirectory& directory = session.OpenDirectory("Stress", options.Dir);
  CreateOrCheckStressTable(directory);
  TStressBaseline baseline;
  for (int p = 0; p < options.Procs; ++p) baseline.Starts.push_back({p, 1, 1});
  TDataCursor cursor(directory);
  cursor.SetTableName(kStressTableName);
  cursor.Open();
  for (const auto& [id, stored] : ReadStressTable(cursor)) {
    baseline.Rows.emplace(id, stored.Row);
    // A reused table: each band continues after its highest ID and tag.
    for (TStressStart& start : baseline.Starts) {
      const std::int32_t band = (start.Process + 1) * kStressBand;
      if (id > band && id < band + kStressBand)
        start.NextSequence = std::max(start.NextSequence, id - band + 1);
      const std::int32_t tag = stored.Row.BlobTag;
      if (tag > band && tag < band + kStressBand)
        start.NextTag = std::max(start.NextTag, tag - band + 1);
    }
  }
  return baseline;
}

std::uint64_t Refusals(const TStressCounters& counters) {
  std::uint64_t total = 0;
  for (const auto& refused : counters.Refused) total += refused.load();
  return total;
}

// Starts the workers; answers their process ids (-1 for one that could not be started).
std::vector<pid_t> StartWorkers(const TStressOptions& options, const TStressBaseline& baseline,
                                TSharedCounters& counters, std::ostream& out, std::ostream& err) {
  std::vector<pid_t> pids;
  for (int p = 0; p < options.Procs; ++p) {
    out.flush();
    err.flush();
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid == 0) {
      // A worker tells its faults on the process's standard error: a stream in the parent's
      // memory (a test's) would be lost with the worker.
      const int status = RunStressWorker(options, baseline.Starts[p], counters[p], std::cerr);
      std::cerr.flush();
      _exit(status);
    }
    if (pid < 0) err << "kura stress: cannot start process " << p << "\n";
    pids.push_back(pid);
  }
  return pids;
}

void ShowProgress(std::ostream& err, double seconds, TSharedCounters& counters, int procs) {
  err << "kura stress: " << std::fixed << std::setprecision(0) << seconds << " s:";
  for (int p = 0; p < procs; ++p)
    err << "  p" << p << " " << counters[p].Operations.load() << " ops (" << Refusals(counters[p])
        << " refused)";
  err << std::endl;
}

// Waits for every worker, showing progress once a second; answers the findings about workers
// that failed, in process order whatever order they ended in.
std::vector<std::string> AwaitWorkers(std::vector<pid_t> pids, TSharedCounters& counters,
                                      std::ostream& err, TClock::time_point started) {
  std::vector<std::string> byProcess(pids.size());
  TClock::time_point nextShow = started + std::chrono::seconds(1);
  std::size_t running = pids.size();
  for (std::size_t p = 0; p < pids.size(); ++p) {
    if (pids[p] >= 0) continue;
    byProcess[p] = "process " + std::to_string(p) + " could not be started";
    --running;
  }
  while (running > 0) {
    for (std::size_t p = 0; p < pids.size(); ++p) {
      int status = 0;
      if (pids[p] < 0 || waitpid(pids[p], &status, WNOHANG) != pids[p]) continue;
      pids[p] = -1;
      --running;
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;
      byProcess[p] = "process " + std::to_string(p) +
                     (WIFSIGNALED(status)
                          ? " was killed by signal " + std::to_string(WTERMSIG(status))
                          : " failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")");
    }
    if (TClock::now() >= nextShow) {
      ShowProgress(err, std::chrono::duration<double>(TClock::now() - started).count(), counters,
                   static_cast<int>(pids.size()));
      nextShow += std::chrono::seconds(1);
    }
    if (running > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::vector<std::string> findings;
  for (std::string& finding : byProcess) {
    if (!finding.empty()) findings.push_back(std::move(finding));
  }
  return findings;
}

// The journals replayed onto the rows the table held before, against the table as it is now.
std::vector<std::string> CheckTable(const TStressOptions& options, TStressRows expected,
                                    TFileList& list) {
  std::vector<std::string> findings;
  for (int p = 0; p < options.Procs; ++p) {
    const std::string name = StressJournalName(options.Dir, p);
    std::ifstream journal(name);
    const std::vector<std::string> found = ReplayJournal(journal, name, expected);
    findings.insert(findings.end(), found.begin(), found.end());
  }
  try {
    TStoredStressRows actual;
    {
      TDataSession session(false, list);
      TDataCursor cursor(session.OpenDirectory("Stress", options.Dir));
      cursor.SetTableName(kStressTableName);
      cursor.Open();
      actual = ReadStressTable(cursor);
    }
    const std::vector<std::string> compared = CompareStressRows(expected, actual);
    findings.insert(findings.end(), compared.begin(), compared.end());
  } catch (const std::exception& error) {
    // The structure checks below still run and say more.
    findings.push_back(std::string("the table could not be read back: ") + error.what());
  }
  const TPathResolution resolution = ResolveTablePath(options.Dir + "/" + kStressTableName, list);
  for (const TTablePath& path : resolution.Tables) {
    const std::vector<std::string> found = VerifyTable(path, list);
    findings.insert(findings.end(), found.begin(), found.end());
  }
  if (!resolution.Error.empty()) findings.push_back(resolution.Error);
  return findings;
}

void WriteSummary(std::ostream& out, TSharedCounters& counters, int procs, double seconds) {
  const char* headings[] = {"process", "inserts", "edits", "key-edits", "deletes", "blob-writes",
                            "reads",   "locks",   "10258", "8708",      "9729",    "10249"};
  constexpr int kColumns = 12;
  for (const char* heading : headings) out << std::setw(12) << heading;
  out << '\n';
  std::uint64_t totals[kColumns] = {};
  std::uint64_t operations = 0;
  const auto row = [&](const std::string& name, const std::uint64_t* values) {
    out << std::setw(12) << name;
    for (int column = 1; column < kColumns; ++column) out << std::setw(12) << values[column];
    out << '\n';
  };
  for (int p = 0; p < procs; ++p) {
    const TStressCounters& c = counters[p];
    const std::uint64_t values[kColumns] = {0,
                                            c.Inserts.load(),
                                            c.Edits.load(),
                                            c.KeyEdits.load(),
                                            c.Deletes.load(),
                                            c.BlobWrites.load(),
                                            c.Reads.load(),
                                            c.Locks.load(),
                                            c.Refused[0].load(),
                                            c.Refused[1].load(),
                                            c.Refused[2].load(),
                                            c.Refused[3].load()};
    row(std::to_string(p), values);
    for (int column = 1; column < kColumns; ++column) totals[column] += values[column];
    operations += c.Operations.load();
  }
  row("total", totals);
  out << std::fixed << std::setprecision(1) << operations << " operations in " << seconds
      << " s: " << std::setprecision(0) << (seconds > 0 ? operations / seconds : 0.0) << " ops/s\n";
}

}  // namespace

int RunStress(const TStressOptions& options, std::ostream& out, std::ostream& err,
              TFileList& list) {
  const TStressBaseline baseline = PrepareTable(options, list);
  for (int p = 0; p < options.Procs; ++p)
    std::filesystem::remove(StressJournalName(options.Dir, p));
  TSharedCounters counters(options.Procs);
  const TClock::time_point started = TClock::now();
  const std::vector<pid_t> pids = StartWorkers(options, baseline, counters, out, err);
  std::vector<std::string> findings = AwaitWorkers(pids, counters, err, started);
  const double seconds = std::chrono::duration<double>(TClock::now() - started).count();
  const std::vector<std::string> checked = CheckTable(options, baseline.Rows, list);
  findings.insert(findings.end(), checked.begin(), checked.end());
  WriteSummary(out, counters, options.Procs, seconds);
  if (findings.empty()) {
    out << "check: every acknowledged change present and nothing else; the table is sound\n";
    return 0;
  }
  out << "check: " << findings.size() << " finding(s)\n";
  for (const std::string& finding : findings) out << finding << '\n';
  return 1;
}

}  // namespace kura::tool
