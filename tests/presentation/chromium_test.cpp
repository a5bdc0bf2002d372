// The Chromium window driven for real, headless. Every browser a test starts is ended by it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "album/test_util.h"
#include "presentation/chromium_browser.h"

namespace zenfo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<pid_t> AllPids() {
    std::vector<pid_t> pids;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
            pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return pids;
}

// The fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, session, ...
std::vector<std::string> StatFields(pid_t pid) {
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos) return {};
    std::istringstream rest(stat.substr(paren + 2));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

bool Runs(pid_t pid) {
    const std::vector<std::string> fields = StatFields(pid);
    return !fields.empty() && fields[0] != "Z" && fields[0] != "X";
}

// The live processes of the session that a started browser leads.
std::vector<pid_t> SessionMembers(pid_t leader) {
    std::vector<pid_t> members;
    for (pid_t pid : AllPids()) {
        const std::vector<std::string> fields = StatFields(pid);
        if (fields.size() > 3 && fields[3] == std::to_string(leader) && Runs(pid)) {
            members.push_back(pid);
        }
    }
    return members;
}

// Ends every process of the given browser sessions and every process whose command line names
// the profile root (the browser's crash handler runs in a session of its own).
void EndBrowsers(const std::set<pid_t>& leaders, const std::string& profileRoot) {
    for (int round = 0; round < 50; ++round) {
        bool any = false;
        for (pid_t pid : AllPids()) {
            if (pid == ::getpid() || !Runs(pid)) continue;
            const std::vector<std::string> fields = StatFields(pid);
            const bool inSession =
                fields.size() > 3 && leaders.count(static_cast<pid_t>(std::stol(fields[3])));
            const bool namesRoot =
                ReadText("/proc/" + std::to_string(pid) + "/cmdline").find(profileRoot) !=
                std::string::npos;
            if (inSession || namesRoot) {
                ::kill(pid, SIGKILL);
                any = true;
            }
        }
        for (pid_t leader : leaders) ::waitpid(leader, nullptr, WNOHANG);
        if (!any) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// Sets (or unsets, with nullopt) an environment variable for the scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string ChromiumPath() {
    for (const char* name : {"chromium", "chromium-browser", "google-chrome"}) {
        for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
            const std::string path = std::string(dir) + "/" + name;
            if (::access(path.c_str(), X_OK) == 0) return path;
        }
    }
    return {};
}

class ChromiumTest : public ::testing::Test {
  public:
    void SetUp() override {
        if (ChromiumPath().empty()) GTEST_SKIP() << "chromium is not installed";
        profileRoot_ = profiles_.Path() + "profiles";
        WritePage("one.html", "one");
        WritePage("写真 #2.html", "two");
        WritePage("index.html", "index");
    }
    void TearDown() override { EndBrowsers(leaders_, profileRoot_); }

    ChromiumOptions Options() const {
        ChromiumOptions options;
        options.Command = ChromiumPath();
        options.ExtraArgs = {"--headless=new", "--disable-gpu"};
        options.DisplayWidth = 900;
        options.DisplayHeight = 700;
        options.ProfileRoot = profileRoot_;
        return options;
    }
    void WritePage(const std::string& name, const std::string& title) {
        test::WriteFileBytes(album_.File(name),
                             "<html><head><title>" + title + "</title></head><body></body></html>");
    }
    // Remembers the browser in use so that TearDown ends it.
    void Track(const ChromiumBrowser& browser) {
        if (browser.ProcessId() > 0) leaders_.insert(browser.ProcessId());
    }
    void NavigateTracked(ChromiumBrowser& browser, const std::string& path) {
        struct Tracker {
            ChromiumTest* test;
            ChromiumBrowser& browser;
            ~Tracker() { test->Track(browser); }
        } tracker{this, browser};
        browser.Navigate(path);
    }

    // The album page's address and title once it has loaded.
    static std::pair<std::string, std::string> Shown(ChromiumBrowser& browser) {
        std::pair<std::string, std::string> shown;
        WaitUntil(
            [&] {
                const Json answer = Json::parse(browser.Call(
                    "Runtime.evaluate",
                    R"({"expression":"[location.href, document.title, document.readyState]",
                        "returnByValue":true})",
                    true));
                const Json& value = answer["result"]["value"];
                shown = {value[0].get<std::string>(), value[1].get<std::string>()};
                return value[2] == "complete" && !shown.second.empty();
            },
            std::chrono::milliseconds(5000));
        return shown;
    }

    test::TempDir album_;
    test::TempDir profiles_;
    std::string profileRoot_;
    std::set<pid_t> leaders_;
};

TEST_F(ChromiumTest, FirstUseStartsTheBrowserAndLaterCallsOnlyNavigate) {
    ChromiumBrowser browser(Options());
    EXPECT_EQ(browser.ProcessId(), 0);
    NavigateTracked(browser, album_.File("one.html"));
    const pid_t pid = browser.ProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(fs::path(browser.ProfileFolder()).parent_path(), fs::path(profileRoot_));
    EXPECT_EQ(Shown(browser), std::make_pair(FileUrl(album_.File("one.html")), std::string("one")));

    // The window is as large as the display it was given.
    const Json targets = Json::parse(browser.Call("Target.getTargets", "{}", false));
    std::string targetId;
    for (const Json& info : targets["targetInfos"]) {
        if (info["type"] == "page" && info["attached"] == true) targetId = info["targetId"];
    }
    ASSERT_FALSE(targetId.empty());
    const Json window = Json::parse(
        browser.Call("Browser.getWindowForTarget", Json{{"targetId", targetId}}.dump(), false));
    EXPECT_EQ(window["bounds"]["width"], 900);
    EXPECT_EQ(window["bounds"]["height"], 700);

    // A name with a space, "#" and non-ASCII characters reaches its own file.
    NavigateTracked(browser, album_.File("写真 #2.html"));
    EXPECT_EQ(browser.ProcessId(), pid);
    EXPECT_EQ(Shown(browser),
              std::make_pair(FileUrl(album_.File("写真 #2.html")), std::string("two")));
    EXPECT_NE(FileUrl(album_.File("写真 #2.html")).find("%20%232.html"), std::string::npos);
}

TEST_F(ChromiumTest, OpenIndexPageStartsTheBrowserAndNavigatesItTwiceToTheIndex) {
    ChromiumBrowser chromium(Options());
    // Notes the browser in use after each navigation that returned.
    struct Watching : Browser {
        ChromiumTest* test;
        ChromiumBrowser& inner;
        std::vector<pid_t> pids;
        Watching(ChromiumTest* t, ChromiumBrowser& b) : test(t), inner(b) {}
        void Navigate(const std::string& path) override {
            test->NavigateTracked(inner, path);
            pids.push_back(inner.ProcessId());
        }
    } watching(this, chromium);
    OpenIndexPage(watching, album_.Path());
    ASSERT_EQ(watching.pids.size(), 2u);
    EXPECT_GT(watching.pids[0], 0);
    EXPECT_EQ(watching.pids[1], watching.pids[0]);
    EXPECT_EQ(Shown(chromium),
              std::make_pair(FileUrl(album_.File("index.html")), std::string("index")));
}

TEST_F(ChromiumTest, AClosedPageIsReplacedByANewWindowInTheSameBrowser) {
    ChromiumBrowser browser(Options());
    NavigateTracked(browser, album_.File("one.html"));
    const pid_t pid = browser.ProcessId();
    // The user closes the window once it shows the page (a page still loading may not close).
    ASSERT_EQ(Shown(browser).second, "one");
    const Json targets = Json::parse(browser.Call("Target.getTargets", "{}", false));
    int closed = 0;
    for (const Json& info : targets["targetInfos"]) {
        if (info["type"] == "page") {
            browser.Call("Target.closeTarget", Json{{"targetId", info["targetId"]}}.dump(), false);
            ++closed;
        }
    }
    ASSERT_EQ(closed, 1);
    // Closing takes effect a moment later.
    ASSERT_TRUE(WaitUntil(
        [&] {
            const Json now = Json::parse(browser.Call("Target.getTargets", "{}", false));
            for (const Json& info : now["targetInfos"]) {
                if (info["type"] == "page") return false;
            }
            return true;
        },
        std::chrono::milliseconds(5000)));
    NavigateTracked(browser, album_.File("写真 #2.html"));
    EXPECT_EQ(browser.ProcessId(), pid);
    EXPECT_EQ(Shown(browser).second, "two");
}

TEST_F(ChromiumTest, AKilledBrowserIsReplacedByANewOne) {
    ChromiumBrowser browser(Options());
    NavigateTracked(browser, album_.File("one.html"));
    const pid_t first = browser.ProcessId();
    const std::string firstProfile = browser.ProfileFolder();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(fs::exists(firstProfile));
    ::kill(-first, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return !Runs(first); }, std::chrono::milliseconds(5000)));

    NavigateTracked(browser, album_.File("写真 #2.html"));
    EXPECT_NE(browser.ProcessId(), first);
    EXPECT_GT(browser.ProcessId(), 0);
    EXPECT_EQ(Shown(browser).second, "two");
    // The dead browser's profile folder has been removed.
    EXPECT_FALSE(fs::exists(firstProfile));
    EXPECT_TRUE(fs::exists(browser.ProfileFolder()));
}

TEST_F(ChromiumTest, TheBrowserOutlivesTheObjectThatStartedIt) {
    pid_t pid = 0;
    {
        ChromiumBrowser browser(Options());
        NavigateTracked(browser, album_.File("one.html"));
        pid = browser.ProcessId();
    }
    ASSERT_GT(pid, 0);
    // A browser that saw its pipe close would quit within moments.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    EXPECT_TRUE(Runs(pid));
    EXPECT_GT(SessionMembers(pid).size(), 1u);
}

TEST_F(ChromiumTest, NothingListensOnATcpPort) {
    ChromiumBrowser browser(Options());
    NavigateTracked(browser, album_.File("one.html"));
    const std::vector<pid_t> members = SessionMembers(browser.ProcessId());
    ASSERT_GT(members.size(), 1u);

    std::set<std::string> sockets;
    std::string cmdlines;
    for (pid_t pid : members) {
        cmdlines += ReadText("/proc/" + std::to_string(pid) + "/cmdline");
        std::error_code ec;
        for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end;
             !ec && it != end; it.increment(ec)) {
            std::error_code linkEc;
            const std::string target = fs::read_symlink(it->path(), linkEc).string();
            if (target.rfind("socket:[", 0) == 0)
                sockets.insert(target.substr(8, target.size() - 9));
        }
    }
    EXPECT_FALSE(sockets.empty());  // the browser's own unix sockets: the search did look
    EXPECT_NE(cmdlines.find("--remote-debugging-pipe"), std::string::npos);
    EXPECT_EQ(cmdlines.find("--remote-debugging-port"), std::string::npos);

    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::istringstream rows(ReadText(table));
        std::string row;
        std::getline(rows, row);  // header
        while (std::getline(rows, row)) {
            std::istringstream fields(row);
            std::vector<std::string> f;
            for (std::string field; fields >> field;) f.push_back(field);
            if (f.size() < 10) continue;
            const bool listening = f[3] == "0A";
            EXPECT_FALSE(listening && sockets.count(f[9])) << table << ": " << row;
        }
    }
}

TEST_F(ChromiumTest, ABrowserThatCannotBeFoundFailsWithWhatWasTriedAndIsTriedAgain) {
    const std::string missing = album_.File("no-such-browser");
    const std::string emptyDir = album_.Path() + "empty-bin";
    fs::create_directory(emptyDir);
    struct Case {
        const char* name;
        std::string command;
        std::optional<std::string> zenfoBrowser;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"the command given", missing, std::nullopt,
         "ブラウザを起動できません (試したもの: " + missing + ")"},
        {"ZENFO_BROWSER", "", "/nonexistent/zenfo-browser",
         "ブラウザを起動できません (試したもの: /nonexistent/zenfo-browser)"},
        {"the usual names on PATH", "", std::nullopt,
         "ブラウザを起動できません (試したもの: chromium, chromium-browser, google-chrome, "
         "google-chrome-stable)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedEnv path("PATH", emptyDir);
        ScopedEnv zenfoBrowser("ZENFO_BROWSER", c.zenfoBrowser);
        ChromiumOptions options = Options();
        options.Command = c.command;
        ChromiumBrowser browser(options);
        try {
            browser.Navigate(album_.File("one.html"));
            ADD_FAILURE() << "no error";
        } catch (const BrowserError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(browser.ProcessId(), 0);
    }

    // Once the program is there, the next call starts it.
    ChromiumOptions options = Options();
    options.Command = missing;
    ChromiumBrowser browser(options);
    EXPECT_THROW(browser.Navigate(album_.File("one.html")), BrowserError);
    fs::create_symlink(ChromiumPath(), missing);
    NavigateTracked(browser, album_.File("one.html"));
    EXPECT_EQ(Shown(browser).second, "one");
}

TEST_F(ChromiumTest, ABrowserThatNeverAnswersOrEndsAtOnceFails) {
    const std::string silent = album_.File("silent-browser");
    test::WriteFileBytes(silent, "#!/bin/sh\nexec sleep 60\n");
    ::chmod(silent.c_str(), 0755);
    ChromiumOptions options = Options();
    options.Command = silent;
    options.TimeoutMs = 500;
    options.StartTimeoutMs = 1500;
    ChromiumBrowser browser(options);
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE("call " + std::to_string(call + 1));
        const auto start = Clock::now();
        try {
            NavigateTracked(browser, album_.File("one.html"));
            ADD_FAILURE() << "no error";
        } catch (const BrowserError& e) {
            EXPECT_EQ(std::string(e.what()), "ブラウザが応答しません");
        }
        const auto waited = Clock::now() - start;
        // The first call waits for a start; later ones for an answer.
        EXPECT_GE(waited, std::chrono::milliseconds(call == 0 ? 1400 : 450));
        EXPECT_LT(waited, std::chrono::milliseconds(call == 0 ? 3000 : 2000));
    }
    // The silent browser is still the one in use: it was neither replaced nor abandoned.
    EXPECT_EQ(leaders_.size(), 1u);
    EXPECT_TRUE(Runs(browser.ProcessId()));

    // A program that ends at once instead of answering.
    ChromiumOptions endingOptions = Options();
    endingOptions.Command = "/bin/true";
    ChromiumBrowser ending(endingOptions);
    try {
        NavigateTracked(ending, album_.File("one.html"));
        ADD_FAILURE() << "no error";
    } catch (const BrowserError& e) {
        EXPECT_EQ(std::string(e.what()), "ブラウザを起動できません (/bin/true が終了しました)");
    }
    EXPECT_EQ(ending.ProcessId(), 0);
}

TEST(RemoveStaleProfiles, RemovesTheFoldersWhoseBrowserHasGone) {
    test::TempDir root;
    // A process that has ended and been reaped.
    pid_t gone = 0;
    char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
    ASSERT_EQ(::posix_spawn(&gone, "/bin/true", nullptr, nullptr, argv, nullptr), 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);

    struct Folder {
        std::string name;
        std::optional<pid_t> pid;
        bool kept;
    };
    const std::vector<Folder> folders = {
        {"profile-gone", gone, false},
        {"profile-running", ::getpid(), true},
        {"profile-being-set-up", std::nullopt, true},
        {"not-a-profile", gone, true},
    };
    for (const Folder& f : folders) {
        fs::create_directory(root.File(f.name));
        if (f.pid) test::WriteFileBytes(root.File(f.name) + "/zenfo.pid", std::to_string(*f.pid));
    }
    RemoveStaleProfiles(root.Path());
    for (const Folder& f : folders) {
        EXPECT_EQ(fs::exists(root.File(f.name)), f.kept) << f.name;
    }
}

TEST(DefaultProfileRoot, FollowsTheUsualFolders) {
    struct Case {
        std::optional<std::string> runtime, cache, home;
        std::string root;
    };
    const std::vector<Case> cases = {
        {"/run/user/1000", "/c", "/h", "/run/user/1000/zenfo"},
        {std::nullopt, "/c", "/h", "/c/zenfo"},
        {"", "relative", "/h", "/h/.cache/zenfo"},
        {std::nullopt, std::nullopt, "/h", "/h/.cache/zenfo"},
    };
    for (const Case& c : cases) {
        ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
        ScopedEnv cache("XDG_CACHE_HOME", c.cache);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(DefaultProfileRoot(), c.root) << c.root;
    }
}

}  // namespace
}  // namespace zenfo
