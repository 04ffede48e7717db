#include "app/checker/background_check.h"

#include <utility>

namespace goramina {

TBackgroundCheck::TBackgroundCheck(std::vector<TCheckedProblem> problems,
                                   TEngineStarter start_engine,
                                   std::chrono::milliseconds time_limit)
    : problems_(std::move(problems)),
      state_{0, static_cast<int>(problems_.size()), false, false},
      worker_([this, start = std::move(start_engine), time_limit]() mutable {
        Work(std::move(start), time_limit);
      }) {}

TBackgroundCheck::~TBackgroundCheck() {
  Cancel();
  if (worker_.joinable()) worker_.join();
}

void TBackgroundCheck::Work(TEngineStarter start_engine, std::chrono::milliseconds time_limit) {
  std::vector<TProblemReport> reports;
  std::exception_ptr error;
  try {
    TCheckOptions options;
    options.timeLimit = time_limit;
    options.progress = [this](const TCheckStep& step) { return Progress(step); };
    options.stop = [this] { return Cancelled(); };
    reports = CheckProblems(problems_, start_engine, options);
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(mutex_);
  reports_ = std::move(reports);
  error_ = error;
  state_.finished = true;
  changed_.notify_all();
}

bool TBackgroundCheck::Progress(const TCheckStep& step) {
  std::lock_guard lock(mutex_);
  static_cast<TCheckStep&>(state_) = step;
  changed_.notify_all();
  return !state_.cancelled;
}

bool TBackgroundCheck::Cancelled() const {
  std::lock_guard lock(mutex_);
  return state_.cancelled;
}

TBackgroundCheck::TState TBackgroundCheck::WaitForChange(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const TState before = state_;
  changed_.wait_for(lock, timeout, [&] {
    return state_.finished || state_.done != before.done || state_.readings != before.readings ||
           state_.cancelled != before.cancelled;
  });
  return state_;
}

TBackgroundCheck::TState TBackgroundCheck::State() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void TBackgroundCheck::Cancel() {
  std::lock_guard lock(mutex_);
  state_.cancelled = true;
  changed_.notify_all();
}

std::vector<TProblemReport> TBackgroundCheck::TakeReports() {
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(mutex_);
  if (error_) std::rethrow_exception(error_);
  return std::move(reports_);
}

}  // namespace goramina
