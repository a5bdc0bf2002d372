// Runs a piece of a test in a forked child: with the rights of an ordinary user when the tests
// run as root (so that file permissions bind), under a file-size limit, with a time limit, and
// with its peak memory measured.
#pragma once

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

namespace zenfo::test {

// The user and group that a child drops to when running as root ("nobody" on Debian).
inline constexpr uid_t kUnprivilegedId = 65534;

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

struct ChildSetup {
    // Run as kUnprivilegedId when the test runs as root; as the test's own user otherwise.
    bool Unprivileged = false;
    // A file-size limit in bytes (RLIMIT_FSIZE) with SIGXFSZ ignored, so that a write past it
    // fails with EFBIG; 0 for none.
    rlim_t FileSizeLimit = 0;
    // The child is killed after this long.
    std::chrono::milliseconds TimeLimit{60000};
};

struct ChildOutcome {
    bool TimedOut = false;
    bool Exited = false;  // ended by _exit, not by a signal
    int ExitCode = -1;    // 0 when body returned, 3 when it threw
    int Signal = 0;
    std::string Output;  // what body returned, or "exception: " + what() when it threw
    long PeakRssKb = 0;  // the child's peak resident size
    std::string Describe() const {
        return TimedOut ? "timed out"
               : Exited ? "exit " + std::to_string(ExitCode) + ": " + Output
                        : "signal " + std::to_string(Signal);
    }
};

// Forks, applies setup in the child, runs body there and hands back its result. body must not
// touch gtest (its failures would be lost in the child); it returns what the parent checks.
inline ChildOutcome RunInChild(const std::function<std::string()>& body,
                               const ChildSetup& setup = {}) {
    ChildOutcome outcome;
    int fds[2];
    if (::pipe(fds) != 0) {
        outcome.Output = "pipe failed";
        return outcome;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        outcome.Output = "fork failed";
        return outcome;
    }
    if (pid == 0) {
        ::close(fds[0]);
        auto say = [&](const std::string& text) {
            const char* p = text.data();
            std::size_t left = text.size();
            while (left > 0) {
                const ssize_t n = ::write(fds[1], p, left);
                if (n <= 0) break;
                p += n;
                left -= static_cast<std::size_t>(n);
            }
        };
        if (setup.Unprivileged && RunningAsRoot()) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 ||
                ::setuid(kUnprivilegedId) != 0) {
                say("cannot drop privileges: " + std::string(std::strerror(errno)));
                ::_exit(4);
            }
        }
        if (setup.FileSizeLimit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{setup.FileSizeLimit, setup.FileSizeLimit};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                say("cannot limit the file size");
                ::_exit(4);
            }
        }
        int code = 0;
        try {
            say(body());
        } catch (const std::exception& e) {
            say(std::string("exception: ") + e.what());
            code = 3;
        }
        ::_exit(code);
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + setup.TimeLimit;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.TimedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        outcome.Output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.PeakRssKb = usage.ru_maxrss;
    if (WIFEXITED(status)) {
        outcome.Exited = true;
        outcome.ExitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.Signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace zenfo::test
