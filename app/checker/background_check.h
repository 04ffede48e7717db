// Checking problems on a worker thread, so that the window stays responsive while GNU Go reads.
// The worker checks a copy of the problems and never touches the window, the tables or the
// data module; the window's thread polls it for progress, may ask it to stop, and collects the
// reports at the end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "app/checker/problem_checker.h"

namespace goramina {

class TBackgroundCheck {
 public:
  // The worker's last progress step (problems done, and on the problem being read the
  // engine's readings, the time spent and the time it may take), and whether it has ended.
  struct TState : TCheckStep {
    bool finished = false;
    bool cancelled = false;  // asked to stop; the worker stops within a fraction of a second
  };

  // Starts checking `problems` at once on a worker thread, each within `time_limit`.
  TBackgroundCheck(std::vector<TCheckedProblem> problems, TEngineStarter start_engine,
                   std::chrono::milliseconds time_limit = kDefaultProblemTimeLimit);
  // Asks the worker to stop and waits for it (the engine's reading is cut short).
  ~TBackgroundCheck();
  TBackgroundCheck(const TBackgroundCheck&) = delete;
  TBackgroundCheck& operator=(const TBackgroundCheck&) = delete;

  // Waits until the worker moves on (a reading, a problem done, or the end) or `timeout`
  // passes, and answers where it stands.
  TState WaitForChange(std::chrono::milliseconds timeout);
  TState State() const;
  // Asks the worker to stop; it drops the problem it is reading.
  void Cancel();
  // Once finished: the reports of the problems checked, in order. Raises again what stopped
  // the worker (EGtpError when the engine cannot be started at all).
  std::vector<TProblemReport> TakeReports();

 private:
  void Work(TEngineStarter start_engine, std::chrono::milliseconds time_limit);
  bool Progress(const TCheckStep& step);
  bool Cancelled() const;

  const std::vector<TCheckedProblem> problems_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TState state_;
  std::vector<TProblemReport> reports_;
  std::exception_ptr error_;
  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace goramina
