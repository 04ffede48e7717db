#include "storage/file_test_support.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace kura::testing {
namespace {

constexpr int kWaitMilliseconds = 20000;

int ReceiveByte(int fd) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do ready = poll(&entry, 1, kWaitMilliseconds);
  while (ready < 0 && errno == EINTR);
  if (ready <= 0) return -1;
  char byte;
  return read(fd, &byte, 1) == 1 ? static_cast<unsigned char>(byte) : -1;
}

void SendByte(int fd, char byte) {
  while (write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
}

}  // namespace

TScratchFolder::TScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kura-files-XXXXXX").string();
  if (mkdtemp(pattern.data())) FPath = pattern;
}

TScratchFolder::~TScratchFolder() {
  if (FPath.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

std::string PatternBytes(std::size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>((state >> 16) % 7);  // few values: the data compresses
  }
  return bytes;
}

void TChildEnd::Send(char message) {
  SendByte(FToParent, message);
}
int TChildEnd::Receive() {
  return ReceiveByte(FFromParent);
}

TForkedChild::TForkedChild(const std::function<int(TChildEnd&)>& body) {
  int up[2], down[2];
  if (pipe(up) != 0) return;
  if (pipe(down) != 0) {
    close(up[0]);
    close(up[1]);
    return;
  }
  FPid = fork();
  if (FPid == 0) {
    close(up[0]);
    close(down[1]);
    TChildEnd end(up[1], down[0]);
    int code = 99;
    try {
      code = body(end);
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  close(up[1]);
  close(down[0]);
  FFromChild = up[0];
  FToChild = down[1];
  if (FPid < 0) {
    close(FFromChild);
    close(FToChild);
    FFromChild = FToChild = -1;
  }
}

TForkedChild::~TForkedChild() {
  if (FPid > 0) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  if (FFromChild >= 0) close(FFromChild);
  if (FToChild >= 0) close(FToChild);
}

int TForkedChild::Receive() {
  return FFromChild < 0 ? -1 : ReceiveByte(FFromChild);
}

void TForkedChild::Send(char message) {
  if (FToChild >= 0) SendByte(FToChild, message);
}

int TForkedChild::Wait() {
  if (FPid <= 0) return -1;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMilliseconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(FPid, &status, WNOHANG);
    if (done == FPid) break;
    if (done < 0 || std::chrono::steady_clock::now() > deadline) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
      FPid = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  FPid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kura::testing
