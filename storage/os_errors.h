// Operating system errors of the file layer and their engine error codes.
#pragma once

#include <cstdint>

namespace kura {

// Engine error codes the file layer answers (negated) for operating system failures.
inline constexpr std::int32_t kErrFileNotFound = 11010;
inline constexpr std::int32_t kErrTooManyFiles = 11012;
inline constexpr std::int32_t kErrAccessDenied = 11013;
inline constexpr std::int32_t kErrBadHandle = 11014;
inline constexpr std::int32_t kErrNoMemory = 11016;
inline constexpr std::int32_t kErrDeviceAccess = 11023;
inline constexpr std::int32_t kErrMoved = 11025;
inline constexpr std::int32_t kErrUnknownOS = 11047;
// Codes of the handlers and of whole-file copies.
inline constexpr std::int32_t kErrReadFailed = 9217;
inline constexpr std::int32_t kErrWriteFailed = 9218;
inline constexpr std::int32_t kErrCompress = 15001;
inline constexpr std::int32_t kErrUncompress = 15002;

// The engine error code for an errno value (see the table in os_errors.cpp). Always positive.
std::int32_t EngineCodeForErrno(int error);

// Records a failed system call's errno for the calling thread and answers the negated engine
// code, ready to be returned by a file operation.
std::int32_t FailWithErrno(int error);

// The errno of the calling thread's last failure recorded by FailWithErrno (0 when none), so
// that the error raised later names the operating system's reason.
int LastFileErrno();

}  // namespace kura
