#include "presentation/chromium_browser.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "presentation/devtools_pipe.h"

extern char** environ;

namespace zenfo {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Status = DevToolsPipe::Status;

constexpr const char* kPidFileName = "zenfo.pid";
constexpr const char* kProfilePrefix = "profile-";
// A profile folder without its pid file is being set up by another zenfo; older ones are stale.
constexpr auto kSetupGrace = std::chrono::minutes(1);
// DevTools' code for a request to a session that no longer exists (the page was closed).
constexpr int kSessionNotFound = -32001;

std::string StartFailure(const std::string& what) {
    return "ブラウザを起動できません (" + what + ")";
}

BrowserError NoAnswer() {
    return BrowserError("ブラウザが応答しません");
}

BrowserError Refused(const std::string& method, const DevToolsPipe::Reply& reply) {
    return BrowserError("ブラウザの操作に失敗しました (" + method + ": " + reply.ErrorText() + ")");
}

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += ", ";
        out += item;
    }
    return out;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The path of a program: as given when it names a path, else the first match on PATH.
std::string FindExecutable(const std::string& name) {
    if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
    const char* pathVar = std::getenv("PATH");
    std::stringstream dirs(pathVar ? pathVar : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

// Whether a process with this id runs (zombies do not count).
bool ProcessRuns(pid_t pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;  // no /proc: trust kill
    const std::size_t paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size()) return true;
    const char state = line[paren + 2];
    return state != 'Z' && state != 'X';
}

void WritePidFile(const std::string& folder, pid_t pid) {
    const std::string path = folder + "/" + kPidFileName;
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << pid << "\n";
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
}

// A descriptor closed on scope exit unless released.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// A copy of fd numbered 10 or above, so that the child's dup2 onto 3 to 6 never meets a source.
int HighCopy(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
    ::close(fd);
    return copy;
}

// Owners of the spawn attribute objects.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { ::posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions); }
};
struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { ::posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes); }
};

}  // namespace

std::string DefaultProfileRoot() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/zenfo";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/zenfo";
    const char* home = std::getenv("HOME");
    std::string homeDir = home && home[0] == '/' ? home : "";
    if (homeDir.empty()) {
        const passwd* pw = ::getpwuid(::getuid());
        homeDir = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    return homeDir + "/.cache/zenfo";
}

void RemoveStaleProfiles(const std::string& root) {
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path folder = it->path();
        std::error_code typeEc;
        if (folder.filename().string().rfind(kProfilePrefix, 0) != 0 || it->is_symlink(typeEc) ||
            !it->is_directory(typeEc)) {
            continue;
        }
        std::ifstream pidFile(folder / kPidFileName);
        long pid = 0;
        bool stale;
        if (pidFile >> pid) {
            stale = !ProcessRuns(static_cast<pid_t>(pid));
        } else {
            std::error_code timeEc;
            const auto written = fs::last_write_time(folder, timeEc);
            stale = !timeEc && fs::file_time_type::clock::now() - written > kSetupGrace;
        }
        std::error_code removeEc;
        if (stale) fs::remove_all(folder, removeEc);
    }
}

ChromiumBrowser::ChromiumBrowser(ChromiumOptions options) : options_(std::move(options)) {}

// The browser is left running: it is the user's album window now.
ChromiumBrowser::~ChromiumBrowser() = default;

void ChromiumBrowser::Launch() {
    std::vector<std::string> candidates;
    const char* fromEnv = std::getenv("ZENFO_BROWSER");
    if (!options_.Command.empty()) {
        candidates = {options_.Command};
    } else if (fromEnv && *fromEnv) {
        candidates = {fromEnv};
    } else {
        candidates = {"chromium", "chromium-browser", "google-chrome", "google-chrome-stable"};
    }
    std::string executable;
    for (const std::string& candidate : candidates) {
        executable = FindExecutable(candidate);
        if (!executable.empty()) break;
    }
    if (executable.empty()) throw BrowserError(StartFailure("試したもの: " + Join(candidates)));

    const std::string root =
        options_.ProfileRoot.empty() ? DefaultProfileRoot() : options_.ProfileRoot;
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) {
        throw BrowserError("ブラウザのプロファイル フォルダー \"" + root +
                           "\" を作成できません: " + SystemErrorText(ec.value()));
    }
    RemoveStaleProfiles(root);
    std::string profile = root + "/" + kProfilePrefix + "XXXXXX";
    if (!::mkdtemp(profile.data())) {
        const int err = errno;
        throw BrowserError("ブラウザのプロファイル フォルダー \"" + root +
                           "\" を作成できません: " + SystemErrorText(err));
    }
    // Until the browser runs, the folder belongs to this process.
    WritePidFile(profile, ::getpid());
    struct ProfileGuard {
        std::string path;
        ~ProfileGuard() {
            std::error_code removeEc;
            if (!path.empty()) fs::remove_all(path, removeEc);
        }
    } guard{profile};

    // Two pipes: commands travel through the first, answers and events through the second.
    int toBrowser[2], fromBrowser[2];
    if (::pipe2(toBrowser, O_CLOEXEC) != 0) {
        throw BrowserError(StartFailure(executable + ": " + SystemErrorText(errno)));
    }
    Fd commandsIn(HighCopy(toBrowser[0])), commandsOut(HighCopy(toBrowser[1]));
    if (::pipe2(fromBrowser, O_CLOEXEC) != 0) {
        throw BrowserError(StartFailure(executable + ": " + SystemErrorText(errno)));
    }
    Fd answersIn(HighCopy(fromBrowser[0])), answersOut(HighCopy(fromBrowser[1]));
    if (commandsIn.get() < 0 || commandsOut.get() < 0 || answersIn.get() < 0 ||
        answersOut.get() < 0) {
        throw BrowserError(StartFailure(executable + ": " + SystemErrorText(errno)));
    }

    std::vector<std::string> args = {executable,
                                     "--remote-debugging-pipe",
                                     "--no-first-run",
                                     "--no-default-browser-check",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--window-size=" + std::to_string(options_.DisplayWidth) +
                                         "," + std::to_string(options_.DisplayHeight),
                                     "--user-data-dir=" + profile};
    if (::geteuid() == 0) args.push_back("--no-sandbox");
    args.insert(args.end(), options_.ExtraArgs.begin(), options_.ExtraArgs.end());
    args.push_back("about:blank");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    SpawnActions actions;
    posix_spawn_file_actions_t* fa = &actions.actions;
    const std::string logPath = profile + "/browser.log";
    ::posix_spawn_file_actions_addopen(fa, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(fa, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(fa, 2, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The pipe the browser reads on 3 and writes on 4; on 5 and 6 it keeps copies of our ends,
    // so it never sees the pipe close when this program ends.
    ::posix_spawn_file_actions_adddup2(fa, commandsIn.get(), 3);
    ::posix_spawn_file_actions_adddup2(fa, answersOut.get(), 4);
    ::posix_spawn_file_actions_adddup2(fa, commandsOut.get(), 5);
    ::posix_spawn_file_actions_adddup2(fa, answersIn.get(), 6);

    SpawnAttributes attributes;
    posix_spawnattr_t* sa = &attributes.attributes;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setsigmask(sa, &none);
    ::posix_spawnattr_setsigdefault(sa, &all);
    // A session of its own: the browser is not hung up or interrupted with our terminal.
    ::posix_spawnattr_setflags(sa,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int spawnError = ::posix_spawn(&pid, executable.c_str(), fa, sa, argv.data(), environ);
    if (spawnError != 0) {
        throw BrowserError(StartFailure(executable + ": " + SystemErrorText(spawnError)));
    }
    WritePidFile(profile, pid);
    guard.path.clear();

    pid_ = pid;
    executable_ = executable;
    profile_ = profile;
    pipe_ = std::make_unique<DevToolsPipe>(commandsOut.release(), answersIn.release());
    fresh_ = true;
    firstPage_ = true;
    sessionId_.clear();
}

bool ChromiumBrowser::BrowserHasExited() {
    if (pid_ <= 0) return true;
    int status = 0;
    const pid_t waited = ::waitpid(pid_, &status, WNOHANG);
    if (waited == pid_) {
        pid_ = 0;  // reaped: the id may be reused from now on
        return true;
    }
    if (waited < 0 && errno == ECHILD) return !ProcessRuns(pid_);
    return false;
}

void ChromiumBrowser::ForgetBrowser() {
    pipe_.reset();
    sessionId_.clear();
    // Reap the browser when it has ended; its profile folder then goes at once, otherwise at the
    // next start's sweep.
    if (BrowserHasExited()) {
        std::error_code ec;
        if (!profile_.empty()) fs::remove_all(profile_, ec);
    }
    pid_ = 0;
    profile_.clear();
}

DevToolsPipe::Reply ChromiumBrowser::Ask(const std::string& method, const Json& params,
                                         const std::string& sessionId) {
    const int timeout =
        fresh_ ? std::max(options_.StartTimeoutMs, options_.TimeoutMs) : options_.TimeoutMs;
    fresh_ = false;
    DevToolsPipe::Reply reply = pipe_->Request(method, params, sessionId, timeout);
    if (reply.status == Status::kTimedOut) throw NoAnswer();
    return reply;
}

bool ChromiumBrowser::OpenPage() {
    std::string targetId;
    bool created = false;
    if (firstPage_) {
        // A freshly started browser shows one blank page: that is the album window.
        firstPage_ = false;
        DevToolsPipe::Reply targets = Ask("Target.getTargets", Json::object(), "");
        if (!targets.Answered()) return false;
        if (targets.IsError()) throw Refused("Target.getTargets", targets);
        const Json& infos = targets.Result().value("targetInfos", Json::array());
        for (const Json& info : infos) {
            if (info.value("type", "") == "page" && !info.value("attached", false)) {
                targetId = info.value("targetId", "");
                break;
            }
        }
    }
    if (targetId.empty()) {
        DevToolsPipe::Reply made =
            Ask("Target.createTarget", {{"url", "about:blank"}, {"newWindow", true}}, "");
        if (!made.Answered()) return false;
        if (made.IsError()) throw Refused("Target.createTarget", made);
        targetId = made.Result().value("targetId", "");
        created = true;
    }
    DevToolsPipe::Reply attached =
        Ask("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}}, "");
    if (!attached.Answered()) return false;
    if (attached.IsError()) throw Refused("Target.attachToTarget", attached);
    sessionId_ = attached.Result().value("sessionId", "");
    if (sessionId_.empty()) throw Refused("Target.attachToTarget", attached);

    if (created) {
        // A new window takes the browser's default size; make it as large as the display again.
        // A browser that cannot resize (headless) keeps its size: that costs nothing else.
        DevToolsPipe::Reply window =
            Ask("Browser.getWindowForTarget", {{"targetId", targetId}}, "");
        if (!window.Answered()) return false;
        if (!window.IsError() && window.Result().contains("windowId")) {
            DevToolsPipe::Reply resized =
                Ask("Browser.setWindowBounds",
                    {{"windowId", window.Result()["windowId"]},
                     {"bounds",
                      {{"width", options_.DisplayWidth}, {"height", options_.DisplayHeight}}}},
                    "");
            if (!resized.Answered()) return false;
        }
    }
    return true;
}

bool ChromiumBrowser::NavigateOnce(const std::string& url) {
    if (sessionId_.empty() && !OpenPage()) return false;
    DevToolsPipe::Reply reply = Ask("Page.navigate", {{"url", url}}, sessionId_);
    if (!reply.Answered()) return false;
    if (reply.ErrorCode() == kSessionNotFound) {
        // The user has closed the album window: show the page in a new one.
        sessionId_.clear();
        if (!OpenPage()) return false;
        reply = Ask("Page.navigate", {{"url", url}}, sessionId_);
        if (!reply.Answered()) return false;
    }
    if (reply.IsError()) throw Refused("Page.navigate", reply);
    return true;
}

void ChromiumBrowser::Navigate(const std::string& localPath) {
    const std::string url = FileUrl(localPath);
    if (pipe_ && BrowserHasExited()) ForgetBrowser();
    const bool startedNow = !pipe_;
    if (startedNow) Launch();
    if (NavigateOnce(url)) return;
    // The browser went away under the request: the user closed it, or it ended while starting.
    const std::string executable = executable_;
    ForgetBrowser();
    if (startedNow) throw BrowserError(StartFailure(executable + " が終了しました"));
    Launch();
    if (NavigateOnce(url)) return;
    ForgetBrowser();
    throw BrowserError(StartFailure(executable + " が終了しました"));
}

std::string ChromiumBrowser::Call(const std::string& method, const std::string& paramsJson,
                                  bool onPage) {
    if (!pipe_ || (onPage && sessionId_.empty())) throw BrowserError("ブラウザが開いていません");
    Json params = Json::parse(paramsJson, nullptr, false);
    if (params.is_discarded())
        throw BrowserError("ブラウザへの命令が正しくありません: " + paramsJson);
    DevToolsPipe::Reply reply = Ask(method, params, onPage ? sessionId_ : std::string());
    if (!reply.Answered()) throw BrowserError("ブラウザとの接続が切れました");
    if (reply.IsError()) throw Refused(method, reply);
    return reply.Result().dump();
}

}  // namespace zenfo
