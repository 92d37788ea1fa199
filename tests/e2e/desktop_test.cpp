// The desktop program as a process: without a display, and ended by signals.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <optional>

#include "support/files.h"
#include "support/line_fixture.h"

namespace tolvar {
namespace {

using namespace std::chrono_literals;

// Sets or unsets environment variables for the processes a test starts.
class ScopedEnv {
  public:
    ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> vars) {
        for (const auto& [name, value] : vars) {
            const char* old = std::getenv(name);
            saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Desktop, WithoutADisplayItNamesTheConsoleAndEnds) {
    test::TempDir dir;
    ScopedEnv env(
        {{"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}});
    test::Process tolvar({test::BinDir() + "/tolvar", "--registry", dir.File("registry.reg")},
                         dir.Path().string(), dir.File("stderr.txt"));
    EXPECT_EQ(tolvar.Wait(10s), 1);
    EXPECT_EQ(test::ReadAll(dir.File("stderr.txt")),
              "tolvar: no display (DISPLAY and WAYLAND_DISPLAY are unset); run \"tolvar "
              "--console\" for the console front end\n");
    // Nothing was started: no settings file written.
    EXPECT_FALSE(std::filesystem::exists(dir.File("registry.reg")));
}

TEST(Desktop, SigtermAndSigintEndItLikeQuitReleasingCapi) {
    test::LineFixture line;
    ScopedEnv env({{"QT_QPA_PLATFORM", "offscreen"}});
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        const auto home = line.Dir() / ("desk" + std::to_string(sig));
        std::filesystem::create_directories(home);
        const auto seq = line.Ctl({"log"});
        ASSERT_FALSE(seq.empty());
        const std::string from = seq.back().substr(3);  // "ok NEXT"
        test::Process tolvar({test::BinDir() + "/tolvar", "--capi", line.CapiArg(), "--registry",
                              (home / "registry.reg").string()},
                             home.string(), (home / "stderr.txt").string());
        const auto listen = line.Ctl({"wait", "LISTEN_CONF", "timeout=10s", "from=" + from});
        ASSERT_FALSE(listen.empty());
        ASSERT_EQ(listen.back().rfind("ok", 0), 0u) << listen.back();
        tolvar.Signal(sig);
        EXPECT_EQ(tolvar.Wait(10s), 0) << test::ReadAll(home / "stderr.txt");
        // The line saw the application leave.
        const auto left = line.Ctl({"wait", "released", "timeout=5s", "from=" + from});
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(left.back().rfind("ok", 0), 0u) << left.back();
    }
}

TEST(Desktop, ASecondStartOnTheSameSettingsFileLeavesItToTheFirst) {
    test::LineFixture line;
    ScopedEnv env({{"QT_QPA_PLATFORM", "offscreen"}});
    const auto home = line.Dir() / "desk";
    std::filesystem::create_directories(home);
    const std::vector<std::string> argv = {test::BinDir() + "/tolvar", "--capi", line.CapiArg(),
                                           "--registry", (home / "registry.reg").string()};
    test::Process first(argv, home.string(), (home / "first.txt").string());
    const auto listen = line.Ctl({"wait", "LISTEN_CONF", "timeout=10s"});
    ASSERT_FALSE(listen.empty());
    ASSERT_EQ(listen.back().rfind("ok", 0), 0u) << listen.back();
    // The second asks the first to show its window and ends at once, quietly.
    test::Process second(argv, home.string(), (home / "second.txt").string());
    EXPECT_EQ(second.Wait(10s), 0);
    EXPECT_EQ(test::ReadAll(home / "second.txt"),
              "tolvar: Tolvar läuft bereits (PID " + std::to_string(first.Pid()) + ")\n");
    EXPECT_FALSE(first.Wait(200ms));  // still running
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10s), 0);
}

}  // namespace
}  // namespace tolvar
