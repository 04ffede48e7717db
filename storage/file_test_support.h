// Helpers for the file layer's tests: a scratch folder, whole-file reads and writes, and a
// forked second process driven through pipes with bounded waits.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "base/engine_error.h"

namespace kura::testing {

// The engine error code a call raises, or 0 when it raises nothing.
template <typename Call>
int RaisedCode(Call call) {
  try {
    call();
  } catch (const EKuraEngineError& error) {
    return error.ErrorCode;
  }
  return 0;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TScratchFolder {
 public:
  TScratchFolder();
  ~TScratchFolder();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

void WriteWholeFile(const std::string& path, const std::string& bytes);
// The file's bytes; an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool PathExists(const std::string& path);
// Open descriptors of this process.
int OpenDescriptorCount();
// count bytes of a repeatable pseudo-random pattern.
std::string PatternBytes(std::size_t count, unsigned seed = 1);

// The child's end of the pipes.
class TChildEnd {
 public:
  TChildEnd(int toParent, int fromParent) : FToParent(toParent), FFromParent(fromParent) {}
  void Send(char message);
  // Waits at most 20 seconds for the parent; answers the byte, or -1.
  int Receive();

 private:
  int FToParent;
  int FFromParent;
};

// A second process running body(end) and exiting with its result through _exit, so nothing
// of the parent's test machinery runs in it. Use no test assertions in body.
class TForkedChild {
 public:
  explicit TForkedChild(const std::function<int(TChildEnd&)>& body);
  // Kills a child that is still running.
  ~TForkedChild();
  bool Started() const { return FPid > 0; }
  // Waits at most 20 seconds for a byte from the child; answers it, or -1.
  int Receive();
  void Send(char message);
  // Waits at most 20 seconds for the child's exit; answers its exit code, or -1 (a child
  // that did not finish is killed).
  int Wait();

 private:
  pid_t FPid = -1;
  int FFromChild = -1;
  int FToChild = -1;
};

}  // namespace kura::testing
