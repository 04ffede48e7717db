// The GTP client against a fake engine: a shell script that answers, fails, stalls, prints
// garbage or ends on command.
#include "app/checker/gtp_client.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace goramina {
namespace {

using namespace std::chrono_literals;
using TKind = EGtpError::TKind;

// Answers "= <command>" to anything it does not know; a command id before the command is
// echoed after the sign as GTP wants.
constexpr const char* kFakeEngine = R"(#!/bin/sh
while IFS= read -r line; do
  case "$line" in
    stall) exec sleep 30 ;;
    die) exit 3 ;;
    garbage) printf 'hello\n\n' ;;
    refuse) printf '? unknown command\n\n' ;;
    two-lines) printf '= first\nsecond\n\n' ;;
    crlf) printf '= crlf\r\n\r\n' ;;
    7\ ask) printf '=7 seven\n\n' ;;
    quit) printf '= \n\n'; exit 0 ;;
    *) printf '= %s\n\n' "$line" ;;
  esac
done
)";

class GtpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("goramina_gtp_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    engine_ = (dir_ / "fake_engine").string();
    std::ofstream(engine_) << kFakeEngine;
    ::chmod(engine_.c_str(), 0755);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static TKind KindOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const EGtpError& e) {
      EXPECT_NE(std::string(e.what()), "");
      return e.Kind();
    }
    ADD_FAILURE() << "no EGtpError";
    return TKind::kNotRunning;
  }

  std::filesystem::path dir_;
  std::string engine_;
};

TEST_F(GtpClientTest, AnswersArriveWithoutTheirSignAndId) {
  TGtpClient client({engine_}, 5s);
  EXPECT_EQ(client.Ask("play black C19"), "play black C19");
  const TGtpAnswer refused = client.Send("refuse");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.text, "unknown command");
  EXPECT_EQ(client.Ask("two-lines"), "first\nsecond");
  EXPECT_EQ(client.Ask("crlf"), "crlf");
  EXPECT_EQ(client.Ask("7 ask"), "seven");
  EXPECT_TRUE(client.Running());
}

TEST_F(GtpClientTest, AskRaisesOnARefusal) {
  TGtpClient client({engine_}, 5s);
  EXPECT_EQ(KindOf([&] { client.Ask("refuse"); }), TKind::kProtocol);
  EXPECT_EQ(client.Ask("still here"), "still here") << "a refusal does not lose the engine";
}

TEST_F(GtpClientTest, AMissingEngineIsReportedAsMissing) {
  EXPECT_EQ(KindOf([&] { TGtpClient((std::vector<std::string>{(dir_ / "none").string()}), 1s); }),
            TKind::kMissing);
  EXPECT_EQ(KindOf([] { TGtpClient((std::vector<std::string>{"goramina-no-such-engine"}), 1s); }),
            TKind::kMissing);
  const std::string not_executable = (dir_ / "plain").string();
  std::ofstream(not_executable) << "text";
  EXPECT_EQ(KindOf([&] { TGtpClient((std::vector<std::string>{not_executable}), 1s); }),
            TKind::kMissing);
}

TEST_F(GtpClientTest, AStalledEngineTimesOutAndIsStopped) {
  TGtpClient client({engine_}, 300ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(KindOf([&] { client.Send("stall"); }), TKind::kTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_FALSE(client.Running());
  EXPECT_EQ(KindOf([&] { client.Send("anything"); }), TKind::kNotRunning);
}

TEST_F(GtpClientTest, AnEngineThatEndsIsReportedAsDied) {
  TGtpClient client({engine_}, 5s);
  EXPECT_EQ(KindOf([&] { client.Send("die"); }), TKind::kDied);
  EXPECT_FALSE(client.Running());
  EXPECT_EQ(KindOf([&] { client.Send("anything"); }), TKind::kNotRunning);
}

TEST_F(GtpClientTest, WritingToAnEngineThatEndedRaisesInsteadOfKillingUs) {
  TGtpClient client({engine_}, 5s);
  EXPECT_EQ(KindOf([&] { client.Send("die"); }), TKind::kDied);
  // A fresh client whose engine ends before we write: the write must not raise SIGPIPE.
  const std::string short_lived = (dir_ / "short_lived").string();
  std::ofstream(short_lived) << "#!/bin/sh\nexit 0\n";
  ::chmod(short_lived.c_str(), 0755);
  TGtpClient gone({short_lived}, 2s);
  std::this_thread::sleep_for(200ms);
  const TKind kind = KindOf([&] {
    for (int i = 0; i < 100; ++i) gone.Send(std::string(4096, 'x'));
  });
  EXPECT_TRUE(kind == TKind::kDied) << static_cast<int>(kind);
}

TEST_F(GtpClientTest, GarbageIsAProtocolError) {
  TGtpClient client({engine_}, 5s);
  EXPECT_EQ(KindOf([&] { client.Send("garbage"); }), TKind::kProtocol);
}

TEST(GnuGoCommandLine, FixesTheSeed) {
  const std::vector<std::string> line = GnuGoCommandLine("/usr/games/gnugo");
  EXPECT_EQ(line.front(), "/usr/games/gnugo");
  const auto seed = std::find(line.begin(), line.end(), "--seed");
  ASSERT_NE(seed, line.end());
  ASSERT_NE(seed + 1, line.end());
  EXPECT_EQ(*(seed + 1), "1");
  EXPECT_NE(std::find(line.begin(), line.end(), "gtp"), line.end());
}

}  // namespace
}  // namespace goramina
