// zenfo-make --after: the album is shown in a browser window that outlives zenfo-make.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../album/test_util.h"
#include "album/picture.h"

namespace zenfo {
namespace {

using test::TempDir;

std::string Quoted(const std::string& s) {
    return "'" + s + "'";
}

// Runs zenfo-make with a headless browser and a profile root of the test's own.
int RunMake(const TempDir& runtime, const std::string& args) {
    const char* make = std::getenv("ZENFO_MAKE");
    if (!make) return -1;
    std::string wrapper = runtime.File("browser.sh");
    test::WriteFileBytes(wrapper, "#!/bin/sh\nexec chromium --headless=new --disable-gpu \"$@\"\n");
    ::chmod(wrapper.c_str(), 0755);
    std::string command = "ZENFO_BROWSER=" + Quoted(wrapper) +
                          " XDG_RUNTIME_DIR=" + Quoted(runtime.Path()) +
                          " DISPLAY= " + Quoted(make) + " " + args + " >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The browsers that zenfo-make started, from the pid files of their profile folders.
std::vector<pid_t> Browsers(const TempDir& runtime) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(runtime.File("zenfo"), ec)) {
        std::ifstream in(entry.path() / "zenfo.pid");
        long pid = 0;
        if (in >> pid && pid > 0) pids.push_back(static_cast<pid_t>(pid));
    }
    return pids;
}

void KillAll(const std::vector<pid_t>& pids) {
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
}

TEST(ZenfoMakeAfter, OpenLeavesTheBrowserRunning) {
    if (!std::getenv("ZENFO_MAKE")) GTEST_SKIP() << "ZENFO_MAKE not set";
    TempDir photos;
    TempDir runtime;
    test::WriteFileBytes(photos.File("a.jpg"), test::PhotoBytes(16, 12));
    EXPECT_EQ(RunMake(runtime, "--quiet --after open " + Quoted(photos.Path())), 0);
    std::vector<pid_t> pids = Browsers(runtime);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_EQ(::kill(pids[0], 0), 0) << "the browser window closed with zenfo-make";
    KillAll(pids);
}

TEST(ZenfoMakeAfter, SlideshowShowsThePagesAndEnds) {
    if (!std::getenv("ZENFO_MAKE")) GTEST_SKIP() << "ZENFO_MAKE not set";
    TempDir photos;
    TempDir runtime;
    test::WriteFileBytes(photos.File("a.jpg"), test::PhotoBytes(16, 12));
    EXPECT_EQ(RunMake(runtime, "--quiet --after slideshow " + Quoted(photos.Path())), 0);
    KillAll(Browsers(runtime));
}

TEST(ZenfoMakeAfter, ABrowserThatCannotStartFailsWithItsMessage) {
    if (!std::getenv("ZENFO_MAKE")) GTEST_SKIP() << "ZENFO_MAKE not set";
    TempDir photos;
    test::WriteFileBytes(photos.File("a.jpg"), test::PhotoBytes(16, 12));
    std::string command = "ZENFO_BROWSER=/nonexistent/browser " +
                          Quoted(std::getenv("ZENFO_MAKE")) + " --quiet --after open " +
                          Quoted(photos.Path()) + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("/nonexistent/browser"), std::string::npos) << output;
    // The album itself was made before the browser was asked for.
    EXPECT_TRUE(std::filesystem::exists(photos.File("index.html")));
}

}  // namespace
}  // namespace zenfo
