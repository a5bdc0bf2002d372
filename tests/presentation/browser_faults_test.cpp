// Faults of the real browser during a slideshow, driven tick by tick as the window's timer does
// (an error of a tick goes to the error report and the ticks go on): a browser killed between
// ticks or in the middle of one costs no page, since the tick that finds it gone starts a new
// one; a browser that stops answering costs the page of the tick that waited for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "album/slideshow_state.h"
#include "album/test_util.h"
#include "presentation/chromium_browser.h"
#include "presentation/slideshow.h"

namespace zenfo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

std::string BrowserPath() {
    for (const char* path :
         {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

bool Alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z' &&
           text[paren + 2] != 'X';
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

class BrowserFaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (BrowserPath().empty()) GTEST_SKIP() << "chromium is not installed";
        for (const std::string page : {"p1", "p2", "p3", "p4", "index"}) {
            test::WriteFileBytes(album_.File(page + ".html"),
                                 "<html><head><title>" + page + "</title></head></html>");
        }
        for (const std::string page : {"p1.html", "p2.html", "p3.html", "p4.html"}) {
            state_.Pages.push_back(page);
        }
        StartSlideshow(state_);
    }
    void TearDown() override {
        // Every browser this test started, and their helpers, which name the profile root.
        for (pid_t leader : leaders_) {
            ::kill(-leader, SIGCONT);
            ::kill(-leader, SIGKILL);
            ::waitpid(leader, nullptr, WNOHANG);
        }
        const std::string root = profiles_.Path();
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream cmdline(entry.path() / "cmdline");
            std::string text((std::istreambuf_iterator<char>(cmdline)),
                             std::istreambuf_iterator<char>());
            if (text.find(root) != std::string::npos) ::kill(std::stoi(name), SIGKILL);
        }
        for (pid_t leader : leaders_) ::waitpid(leader, nullptr, 0);
    }

    ChromiumOptions Options() const {
        ChromiumOptions options;
        options.Command = BrowserPath();
        options.ExtraArgs = {"--headless=new", "--disable-gpu"};
        options.ProfileRoot = profiles_.Path();
        options.TimeoutMs = 1500;
        options.StartTimeoutMs = 30000;
        return options;
    }

    // One timer tick: the step, with an error going to the report as the window's timer does.
    void Tick(ChromiumBrowser& browser) {
        try {
            SlideshowStep(state_, browser, album_.Path());
        } catch (const ZenfoError& e) {
            reports_.push_back(e.what());
        }
        if (browser.ProcessId() > 0) leaders_.insert(browser.ProcessId());
    }

    // The title of the page the album window shows once it has loaded.
    static std::string Shown(ChromiumBrowser& browser) {
        std::string title;
        WaitUntil(
            [&] {
                try {
                    const Json answer = Json::parse(
                        browser.Call("Runtime.evaluate",
                                     R"({"expression":"[document.title, document.readyState]",
                            "returnByValue":true})",
                                     true));
                    const Json& value = answer["result"]["value"];
                    title = value[0].get<std::string>();
                    return value[1] == "complete" && !title.empty();
                } catch (const std::exception&) {
                    return false;
                }
            },
            std::chrono::milliseconds(10000));
        return title;
    }

    void KillBrowser(pid_t pid) {
        ::kill(-pid, SIGKILL);
        ASSERT_TRUE(WaitUntil([&] { return !Alive(pid); }, std::chrono::milliseconds(5000)));
    }

    test::TempDir album_;
    test::TempDir profiles_;
    SlideshowState state_;
    std::vector<std::string> reports_;
    std::set<pid_t> leaders_;
};

TEST_F(BrowserFaultsTest, ABrowserKilledMidSlideshowIsReplacedWithoutLosingAPage) {
    ChromiumBrowser browser(Options());
    Tick(browser);
    ASSERT_TRUE(reports_.empty()) << reports_.front();
    EXPECT_EQ(Shown(browser), "p1");
    const pid_t first = browser.ProcessId();
    ASSERT_GT(first, 0);

    // Killed between two ticks: the next tick starts a new browser and shows its page.
    KillBrowser(first);
    Tick(browser);
    EXPECT_TRUE(reports_.empty()) << reports_.front();
    const pid_t second = browser.ProcessId();
    EXPECT_NE(second, first);
    EXPECT_EQ(Shown(browser), "p2");

    // Killed while a tick waits for its answer (the browser is stopped first, so that the
    // request is surely under way): the pipe closes under the request, and the same tick starts
    // a new browser and shows its page there, within the bound of a start.
    ASSERT_EQ(::kill(-second, SIGSTOP), 0);
    const auto start = Clock::now();
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::kill(-second, SIGKILL);
    });
    Tick(browser);
    killer.join();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500 + 30000));
    EXPECT_TRUE(reports_.empty()) << reports_.front();
    const pid_t third = browser.ProcessId();
    EXPECT_NE(third, second);
    EXPECT_GT(third, 0);
    EXPECT_EQ(Shown(browser), "p3");

    Tick(browser);
    EXPECT_TRUE(reports_.empty()) << reports_.front();
    EXPECT_EQ(browser.ProcessId(), third);
    EXPECT_EQ(Shown(browser), "p4");

    // The show ends on the index as usual.
    Tick(browser);
    EXPECT_TRUE(reports_.empty()) << reports_.front();
    EXPECT_EQ(Shown(browser), "index");
    EXPECT_FALSE(state_.Active);
}

TEST_F(BrowserFaultsTest, ABrowserThatStopsAnsweringFailsItsStepInTimeAndTheNextTickGoesOn) {
    ChromiumBrowser browser(Options());
    Tick(browser);
    ASSERT_TRUE(reports_.empty()) << reports_.front();
    EXPECT_EQ(Shown(browser), "p1");
    const pid_t pid = browser.ProcessId();

    // Stopped: alive, but it answers nothing.
    ASSERT_EQ(::kill(-pid, SIGSTOP), 0);
    const auto start = Clock::now();
    Tick(browser);
    const auto waited = Clock::now() - start;
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "ブラウザが応答しません");
    EXPECT_GE(waited, std::chrono::milliseconds(1400));
    EXPECT_LT(waited, std::chrono::milliseconds(1500 + 2000));
    EXPECT_EQ(state_.Position, 2);  // the failed page is not tried again
    EXPECT_TRUE(state_.Active);

    // Answering again: the next tick shows the next page in the same browser.
    ASSERT_EQ(::kill(-pid, SIGCONT), 0);
    Tick(browser);
    EXPECT_EQ(reports_.size(), 1u);
    EXPECT_EQ(browser.ProcessId(), pid);
    EXPECT_EQ(Shown(browser), "p3");
    Tick(browser);
    Tick(browser);
    EXPECT_EQ(reports_.size(), 1u);
    EXPECT_EQ(Shown(browser), "index");
    EXPECT_FALSE(state_.Active);
}

}  // namespace
}  // namespace zenfo
