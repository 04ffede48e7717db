// Runs every step of a sequence that must go on after a failure (closing tables, ending a
// transaction on every table) and raises the first engine error once all steps were tried.
#pragma once

#include <exception>

#include "base/engine_error.h"

namespace kura {

class TFirstError {
 public:
  template <typename Step>
  void Try(Step step) {
    try {
      step();
    } catch (const EKuraEngineError&) {
      if (!FFirst) FFirst = std::current_exception();
    }
  }
  bool Failed() const { return FFirst != nullptr; }
  void RaiseIfAny() const {
    if (FFirst) std::rethrow_exception(FFirst);
  }

 private:
  std::exception_ptr FFirst;
};

}  // namespace kura
