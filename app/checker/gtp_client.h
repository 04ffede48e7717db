// A client of a Go engine speaking the Go Text Protocol (GTP, version 2) over pipes.
//
// The engine runs as a child process; each command is one line on its standard input and each
// answer a block on its standard output: "= text" (success) or "? text" (failure), ended by an
// empty line. Every answer is awaited with a time limit. An engine that cannot be started,
// that stops answering in time or that ends is reported as EGtpError with its kind; after such
// an error the client holds no engine any more (a stalled one is killed) and every further
// command raises kNotRunning.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace goramina {

class EGtpError : public std::runtime_error {
 public:
  enum class TKind {
    kMissing,      // the program could not be started (not installed, not executable)
    kTimeout,      // no complete answer within the time limit
    kDied,         // the engine ended or closed its output
    kProtocol,     // the answer is not a GTP answer
    kNotRunning,   // a command after the engine was lost
    kInterrupted,  // the interrupt check asked to stop while an answer was awaited
  };
  EGtpError(TKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  TKind Kind() const { return kind_; }

 private:
  TKind kind_;
};

// One answer: whether the engine reported success, and its text without the "= " / "? ".
struct TGtpAnswer {
  bool ok = false;
  std::string text;
};

class TGtpClient {
 public:
  // Starts `argv` (argv[0] is the program: a path, or a name looked up in PATH) as the engine.
  // Raises EGtpError kMissing when it cannot be started. Writing to an engine that has ended
  // must not kill this process, so SIGPIPE is ignored from here on when it was left at its
  // default.
  TGtpClient(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);
  // Asks the engine to quit, waits a moment, then kills it if it is still there.
  ~TGtpClient();
  TGtpClient(const TGtpClient&) = delete;
  TGtpClient& operator=(const TGtpClient&) = delete;

  // Sends one command line (no line break inside) and awaits its answer. Raises EGtpError
  // when the engine stalls, dies or answers garbage; a "?" answer is returned, not raised.
  TGtpAnswer Send(const std::string& command);
  // Send, raising EGtpError kProtocol with the engine's text when it answers "?".
  std::string Ask(const std::string& command);

  // The time limit of each answer.
  void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
  std::chrono::milliseconds Timeout() const { return timeout_; }
  // Asked at least every kInterruptPoll while an answer is awaited (from the thread that
  // sends); answering true stops the engine at once (EGtpError kInterrupted), so that a long
  // reading can be cut short. Empty: never.
  void SetInterrupt(std::function<bool()> interrupt) { interrupt_ = std::move(interrupt); }
  static constexpr std::chrono::milliseconds kInterruptPoll{100};
  bool Running() const { return pid_ > 0; }

 private:
  void Start(const std::vector<std::string>& argv);
  void WriteLine(const std::string& line);
  std::string ReadAnswerBlock();
  [[noreturn]] void Fail(EGtpError::TKind kind, const std::string& message);
  void Stop(bool kill_now);

  std::chrono::milliseconds timeout_;
  std::function<bool()> interrupt_;
  std::string program_;
  pid_t pid_ = -1;
  int to_engine_ = -1;
  int from_engine_ = -1;
  std::string buffer_;  // bytes read beyond the last answer
};

// Reads one answer block (the lines before the closing empty line): text before the first
// '=' or '?' is skipped, then the optional command id and one space. nullopt when the block
// has no sign at all.
std::optional<TGtpAnswer> ParseGtpAnswer(std::string_view block);

// The GNU Go program: $GORAMINA_GNUGO when set, else "gnugo" in PATH, else /usr/games/gnugo
// (where Debian installs it). Empty when none is found.
std::string FindGnuGo();

// The command line that runs GNU Go as a GTP engine with a fixed random seed, so its verdicts
// repeat from run to run.
std::vector<std::string> GnuGoCommandLine(const std::string& program);

}  // namespace goramina
