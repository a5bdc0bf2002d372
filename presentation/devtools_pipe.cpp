#include "presentation/devtools_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace zenfo {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits until fd is ready for events or the deadline has passed; false on timeout.
bool WaitFor(int fd, short events, std::int64_t deadlineMs) {
    for (;;) {
        const std::int64_t left = deadlineMs - NowMs();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return true;  // let the read or write report the fault
    }
}

void MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

int DevToolsReply::ErrorCode() const {
    if (!IsError() || !message["error"].is_object()) return 0;
    const nlohmann::json& code = message["error"].value("code", nlohmann::json());
    return code.is_number_integer() ? code.get<int>() : 0;
}

std::string DevToolsReply::ErrorText() const {
    if (!IsError()) return {};
    const nlohmann::json& error = message["error"];
    if (error.is_object() && error.contains("message") && error["message"].is_string()) {
        return error["message"].get<std::string>();
    }
    return error.dump();
}

const nlohmann::json& DevToolsReply::Result() const {
    static const nlohmann::json kEmpty = nlohmann::json::object();
    if (Answered() && message.contains("result")) return message["result"];
    return kEmpty;
}

DevToolsPipe::DevToolsPipe(int toBrowser, int fromBrowser)
    : toBrowser_(toBrowser), fromBrowser_(fromBrowser) {
    // Writing to a pipe nobody reads any more must report EPIPE, not end the program.
    static const bool sigpipeIgnored = [] {
        ::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)sigpipeIgnored;
    MakeNonBlocking(toBrowser_);
    MakeNonBlocking(fromBrowser_);
}

DevToolsPipe::~DevToolsPipe() {
    ::close(toBrowser_);
    ::close(fromBrowser_);
}

bool DevToolsPipe::Flush(std::int64_t deadlineMs) {
    while (!out_.empty()) {
        const ssize_t n = ::write(toBrowser_, out_.data(), out_.size());
        if (n > 0) {
            out_.erase(0, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(toBrowser_, POLLOUT, deadlineMs)) return false;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EPIPE (SIGPIPE is ignored by the caller) or another fault: the browser has gone.
            closed_ = true;
            return false;
        }
    }
    return true;
}

DevToolsPipe::Reply DevToolsPipe::Request(const std::string& method, const nlohmann::json& params,
                                          const std::string& sessionId, int timeoutMs) {
    Reply reply;
    if (closed_) return reply;
    const std::int64_t deadline = NowMs() + timeoutMs;
    const std::int64_t id = nextId_++;

    nlohmann::json command = {{"id", id}, {"method", method}, {"params", params}};
    if (!sessionId.empty()) command["sessionId"] = sessionId;
    out_ += command.dump();
    out_.push_back('\0');
    if (!Flush(deadline)) {
        reply.status = closed_ ? Status::kClosed : Status::kTimedOut;
        return reply;
    }

    for (;;) {
        // Take every whole message already read, looking for our answer.
        std::size_t end;
        while ((end = in_.find('\0')) != std::string::npos) {
            nlohmann::json message =
                nlohmann::json::parse(in_.begin(), in_.begin() + end, nullptr, false);
            in_.erase(0, end + 1);
            if (message.is_object() && message.contains("id") && message["id"] == id) {
                reply.status = Status::kAnswered;
                reply.message = std::move(message);
                return reply;
            }
        }
        if (!WaitFor(fromBrowser_, POLLIN, deadline)) {
            reply.status = Status::kTimedOut;
            return reply;
        }
        char chunk[65536];
        const ssize_t n = ::read(fromBrowser_, chunk, sizeof chunk);
        if (n > 0) {
            in_.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closed_ = true;
            reply.status = Status::kClosed;
            return reply;
        }
    }
}

}  // namespace zenfo
