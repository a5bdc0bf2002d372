// Request and answer over the browser's DevTools pipe: JSON messages, each ended by a NUL byte.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace zenfo {

// How a request ended.
enum class DevToolsStatus {
    kAnswered,  // the answer with the request's id arrived (it may carry an "error" member)
    kClosed,    // the other side has gone (end of file, or nobody reads the pipe any more)
    kTimedOut,  // no answer within the time given
};

struct DevToolsReply {
    DevToolsStatus status = DevToolsStatus::kClosed;
    nlohmann::json message;  // the whole answer when answered

    bool Answered() const { return status == DevToolsStatus::kAnswered; }
    bool IsError() const { return Answered() && message.contains("error"); }
    // The error's code, or 0.
    int ErrorCode() const;
    // The error's text, or an empty string.
    std::string ErrorText() const;
    // The "result" member of an answer, or an empty object.
    const nlohmann::json& Result() const;
};

class DevToolsPipe {
  public:
    using Status = DevToolsStatus;
    using Reply = DevToolsReply;

    // Takes ownership of both descriptors: commands are written to toBrowser, answers and events
    // are read from fromBrowser. Both are made non-blocking.
    DevToolsPipe(int toBrowser, int fromBrowser);
    ~DevToolsPipe();
    DevToolsPipe(const DevToolsPipe&) = delete;
    DevToolsPipe& operator=(const DevToolsPipe&) = delete;

    // Sends one command (to the browser, or to the page of sessionId when it is not empty) and
    // waits at most timeoutMs for the answer with its id. Events and late answers to earlier
    // requests are skipped. Once the other side has gone every request reports kClosed.
    Reply Request(const std::string& method, const nlohmann::json& params,
                  const std::string& sessionId, int timeoutMs);

  private:
    // Writes out_ as far as the deadline allows; false when it was not all written.
    bool Flush(std::int64_t deadlineMs);
    int toBrowser_;
    int fromBrowser_;
    bool closed_ = false;
    std::int64_t nextId_ = 1;
    std::string in_;   // bytes read but not yet taken as whole messages
    std::string out_;  // bytes not yet written; a command cut short by a timeout is finished
                       // before the next one, so the stream never carries half a message
};

}  // namespace zenfo
