// How the file layer reports a failure: one status carrying the engine error code and the
// operating system's reason, returned by every file operation that can fail.
#pragma once

#include <cstdint>

#include "base/engine_codes.h"

namespace kura {

// The outcome of a file operation. Code 0 is success; otherwise Code is the engine error code
// to raise and OSError the errno of the system call that failed (0 when the failure was the
// file layer's own decision, such as a short read at the end of a file).
struct TFileStatus {
  codes::Code Code = 0;
  int OSError = 0;

  bool Ok() const { return Code == 0; }
  friend bool operator==(const TFileStatus&, const TFileStatus&) = default;
};

// A value (a handle id, a byte count, a position, a size) together with the status of the
// operation that produced it. On failure Value holds what the operation still achieved (the
// bytes moved before a transfer failed), or 0.
template <typename T>
struct TFileResult {
  TFileResult(T value) : Value(value) {}                                      // success
  TFileResult(TFileStatus status) : Status(status) {}                         // failure
  TFileResult(T value, TFileStatus status) : Value(value), Status(status) {}  // partial

  bool Ok() const { return Status.Ok(); }

  T Value{};
  TFileStatus Status;
};

// The engine error code for an errno value (see the table in os_errors.cpp). Never 0.
codes::Code EngineCodeForErrno(int error);

// The status of a system call that failed with the given errno.
inline TFileStatus OSFailure(int error) {
  return {EngineCodeForErrno(error), error};
}

// A failure with a code of the file layer's own (9217, 9218, 15001, ...) and, when a system
// call lies behind it, that call's errno.
inline TFileStatus FileFailure(codes::Code code, int error = 0) {
  return {code, error};
}

}  // namespace kura
