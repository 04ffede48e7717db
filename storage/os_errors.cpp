#include "storage/os_errors.h"

#include <cerrno>

namespace kura {

// errno -> engine error code. Everything not listed is "an unknown operating system error".
//
//   errno                         engine code  meaning
//   ----------------------------  -----------  ---------------------------------------------
//   ENOENT, ENOTDIR               11010        the file or a folder of its path is missing
//   EMFILE, ENFILE                11012        too many files open
//   EACCES, EPERM, EROFS, EISDIR  11013        access denied
//   EAGAIN (EWOULDBLOCK), ETXTBSY 11013        sharing violation: another process holds the
//                                              file exclusively (its share byte is locked)
//   EBADF                         11014        bad file descriptor
//   ENOMEM                        11016        out of memory
//   ENODEV, ENXIO                 11023        the device cannot be reached
//   EXDEV                         11025        a rename across file systems
//   anything else                 11047        unknown operating system error
codes::Code EngineCodeForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return codes::kTableNotFound;
    case EMFILE:
    case ENFILE:
      return codes::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ETXTBSY:
      return codes::kAccessDenied;
    case EBADF:
      return codes::kInvalidFileHandle;
    case ENOMEM:
      return codes::kOutOfMemory;
    case ENODEV:
    case ENXIO:
      return codes::kDeviceAccessDenied;
    case EXDEV:
      return codes::kTableMoved;
    default:
      return codes::kUnknownOSError;
  }
}

}  // namespace kura
