#include "app/checker/gtp_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>

namespace goramina {
namespace {

using Clock = std::chrono::steady_clock;

// How long the destructor waits for the engine to leave after "quit".
constexpr std::chrono::milliseconds kQuitGrace{500};
constexpr std::size_t kReadChunk = 4096;
// An answer longer than this is not an answer we asked for.
constexpr std::size_t kLongestAnswer = 1 << 20;

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The program's path: as given when it names a path, else the first match in PATH.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    // An empty entry is the current folder.
    const std::string candidate =
        (std::filesystem::path(dir.empty() ? std::string_view(".") : std::string_view(dir)) /
         program)
            .string();
    if (IsExecutableFile(candidate)) return candidate;
  }
  return {};
}

void IgnoreSigpipeWhenDefault() {
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
  }
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

TGtpClient::TGtpClient(const std::vector<std::string>& argv, std::chrono::milliseconds timeout)
    : timeout_(timeout) {
  IgnoreSigpipeWhenDefault();
  Start(argv);
}

TGtpClient::~TGtpClient() {
  if (pid_ <= 0) return;
  try {
    WriteLine("quit");
  } catch (const EGtpError&) {
    return;  // already stopped and reaped
  }
  Stop(false);
}

void TGtpClient::Start(const std::vector<std::string>& argv) {
  program_ = argv.empty() ? std::string() : argv[0];
  const std::string path = argv.empty() ? std::string() : ResolveProgram(argv[0]);
  if (path.empty()) {
    throw EGtpError(EGtpError::TKind::kMissing,
                    "囲碁エンジン「" + program_ + "」が見つかりません。");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int in_pipe[2], out_pipe[2], exec_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category());
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(exec_pipe, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(in_pipe[0]);
    ::close(in_pipe[1]);
    throw std::system_error(error, std::generic_category());
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The child: only async-signal-safe calls until exec.
    ::dup2(in_pipe[0], STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) ::dup2(devnull, STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execv(path.c_str(), args.data());
    const int error = errno;
    [[maybe_unused]] ssize_t n = ::write(exec_pipe[1], &error, sizeof error);
    ::_exit(127);
  }
  const int fork_error = errno;
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(exec_pipe[1]);
  if (pid < 0) {
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    ::close(exec_pipe[0]);
    throw std::system_error(fork_error, std::generic_category());
  }
  // The exec pipe closes on a successful exec; otherwise it carries the child's errno.
  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(exec_pipe[0], &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  ::close(exec_pipe[0]);
  pid_ = pid;
  to_engine_ = in_pipe[1];
  from_engine_ = out_pipe[0];
  if (got > 0) {
    Stop(true);
    throw EGtpError(
        EGtpError::TKind::kMissing,
        "囲碁エンジン「" + program_ + "」を起動できません: " + std::strerror(exec_error));
  }
}

void TGtpClient::Stop(bool kill_now) {
  CloseFd(to_engine_);
  CloseFd(from_engine_);
  if (pid_ <= 0) return;
  if (!kill_now) {
    const auto deadline = Clock::now() + kQuitGrace;
    while (Clock::now() < deadline) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

void TGtpClient::Fail(EGtpError::TKind kind, const std::string& message) {
  Stop(true);
  buffer_.clear();
  throw EGtpError(kind, message);
}

void TGtpClient::WriteLine(const std::string& line) {
  if (pid_ <= 0) {
    throw EGtpError(EGtpError::TKind::kNotRunning, "囲碁エンジンは動いていません。");
  }
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(to_engine_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(EGtpError::TKind::kDied, "囲碁エンジン「" + program_ + "」が終了しました。");
    done += static_cast<std::size_t>(n);
  }
}

std::string TGtpClient::ReadAnswerBlock() {
  const auto deadline = Clock::now() + timeout_;
  for (;;) {
    const std::size_t end = buffer_.find("\n\n");
    if (end != std::string::npos) {
      std::string block = buffer_.substr(0, end);
      buffer_.erase(0, end + 2);
      return block;
    }
    if (buffer_.size() > kLongestAnswer) {
      Fail(EGtpError::TKind::kProtocol, "囲碁エンジンの応答が長すぎます。");
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      Fail(EGtpError::TKind::kTimeout, "囲碁エンジン「" + program_ + "」が" +
                                           std::to_string(timeout_.count() / 1000.0).substr(0, 4) +
                                           "秒以内に応答しません。");
    }
    if (interrupt_ && interrupt_())
      Fail(EGtpError::TKind::kInterrupted, "囲碁エンジンの読みを打ち切りました。");
    const auto slice = interrupt_ ? std::min(left, kInterruptPoll) : left;
    pollfd fd{from_engine_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(slice.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // the deadline check above reports it
    char chunk[kReadChunk];
    const ssize_t n = ::read(from_engine_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(EGtpError::TKind::kDied, "囲碁エンジン「" + program_ + "」が終了しました。");
    for (ssize_t i = 0; i < n; ++i)
      if (chunk[i] != '\r') buffer_.push_back(chunk[i]);
  }
}

std::optional<TGtpAnswer> ParseGtpAnswer(std::string_view block) {
  // Engines may print noise before the answer; the answer starts at '=' or '?'.
  const std::size_t start = block.find_first_of("=?");
  if (start == std::string_view::npos) return std::nullopt;
  TGtpAnswer answer;
  answer.ok = block[start] == '=';
  std::size_t text = start + 1;
  while (text < block.size() && block[text] >= '0' && block[text] <= '9') ++text;  // command id
  if (text < block.size() && block[text] == ' ') ++text;
  answer.text = std::string(block.substr(text));
  return answer;
}

TGtpAnswer TGtpClient::Send(const std::string& command) {
  WriteLine(command);
  const std::string block = ReadAnswerBlock();
  std::optional<TGtpAnswer> answer = ParseGtpAnswer(block);
  if (!answer) Fail(EGtpError::TKind::kProtocol, "囲碁エンジンの応答が読めません: " + block);
  return *answer;
}

std::string TGtpClient::Ask(const std::string& command) {
  TGtpAnswer answer = Send(command);
  if (!answer.ok) {
    throw EGtpError(EGtpError::TKind::kProtocol,
                    "囲碁エンジンが「" + command + "」を拒みました: " + answer.text);
  }
  return answer.text;
}

std::string FindGnuGo() {
  if (const char* own = std::getenv("GORAMINA_GNUGO"); own != nullptr && *own != '\0') return own;
  std::string found = ResolveProgram("gnugo");
  if (!found.empty()) return found;
  if (IsExecutableFile("/usr/games/gnugo")) return "/usr/games/gnugo";
  return {};
}

std::vector<std::string> GnuGoCommandLine(const std::string& program) {
  return {program, "--mode", "gtp", "--seed", "1", "--level", "10"};
}

}  // namespace goramina
