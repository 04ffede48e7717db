// Progress notifications of long operations (whole-file copies, SQL statements): a percentage
// is reported whenever it has grown by at least the step since the last report (so the first
// report needs the step itself), and an operation that ends below a reported 100 reports 100
// once at its end.
#pragma once

namespace kura {

class TProgressSteps {
 public:
  // step: the least growth between two reports; a step below 0 counts as 0.
  explicit TProgressSteps(int step) : FStep(step > 0 ? step : 0) {}

  // The step of a session's progress steps: 100 div steps, or 100 when steps is 0; at
  // least 1, so that more than 100 steps never report one percentage twice.
  static int StepFor(int steps) { return steps <= 0 ? 100 : steps > 100 ? 1 : 100 / steps; }

  // Whether percent is to be reported now; when it is, it becomes the last one reported.
  bool Advance(int percent) {
    if (percent < FLast + FStep) return false;
    FLast = percent;
    FReported100 = FReported100 || percent >= 100;
    return true;
  }

  // Whether the end of the operation still has to report 100; answers true only once.
  bool Finish() {
    if (FReported100) return false;
    FReported100 = true;
    FLast = 100;
    return true;
  }

  int LastReported() const { return FLast; }

 private:
  int FStep;
  int FLast = 0;
  bool FReported100 = false;
};

}  // namespace kura
