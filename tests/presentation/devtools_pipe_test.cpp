#include "presentation/devtools_pipe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace zenfo {
namespace {

using Clock = std::chrono::steady_clock;

// The browser's side of the two pipes, played by the test.
struct Peer {
    int commands = -1;  // what the pipe writes, read here
    int answers = -1;   // written here, read by the pipe
    std::unique_ptr<DevToolsPipe> pipe;

    Peer() {
        int toBrowser[2], fromBrowser[2];
        EXPECT_EQ(::pipe(toBrowser), 0);
        EXPECT_EQ(::pipe(fromBrowser), 0);
        commands = toBrowser[0];
        answers = fromBrowser[1];
        pipe = std::make_unique<DevToolsPipe>(toBrowser[1], fromBrowser[0]);
    }
    ~Peer() {
        pipe.reset();
        if (commands >= 0) ::close(commands);
        if (answers >= 0) ::close(answers);
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(answers, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything written to the browser so far.
    std::string Received() const {
        std::string all;
        char chunk[65536];
        for (;;) {
            pollfd p{commands, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0) break;
            const ssize_t n = ::read(commands, chunk, sizeof chunk);
            if (n <= 0) break;
            all.append(chunk, static_cast<std::size_t>(n));
        }
        return all;
    }
};

TEST(DevToolsPipe, TakesTheAnswerWithItsIdAndSkipsEventsAndOtherAnswers) {
    Peer peer;
    std::thread browser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peer.Send(std::string("{\"method\":\"Target.attachedToTarget\",\"params\":{}}") + '\0' +
                  "{\"id\":7,\"result\":{\"wrong\":true}}" + '\0' + "not json" + '\0' +
                  "{\"id\":1,\"result\":{\"frame");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // The rest of the answer arrives in a later read, followed by the start of an event.
        peer.Send(std::string("Id\":\"F\"},\"sessionId\":\"S\"}") + '\0' + "{\"method\":");
    });
    DevToolsReply reply =
        peer.pipe->Request("Page.navigate", {{"url", "file:///a.html"}}, "S", 2000);
    browser.join();
    ASSERT_EQ(reply.status, DevToolsStatus::kAnswered);
    EXPECT_FALSE(reply.IsError());
    EXPECT_EQ(reply.Result().value("frameId", ""), "F");

    const std::string sent = peer.Received();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), '\0');
    const nlohmann::json command = nlohmann::json::parse(sent.substr(0, sent.size() - 1));
    EXPECT_EQ(command, (nlohmann::json{{"id", 1},
                                       {"method", "Page.navigate"},
                                       {"params", {{"url", "file:///a.html"}}},
                                       {"sessionId", "S"}}));

    // The half-read event is kept; the next answer completes it and is still found.
    peer.Send(std::string("\"Page.x\"}") + '\0' +
              "{\"id\":2,\"error\":{\"code\":-32001,\"message\":\"Session with given id not "
              "found.\"}}" +
              '\0');
    reply = peer.pipe->Request("Page.navigate", nlohmann::json::object(), "S", 2000);
    ASSERT_EQ(reply.status, DevToolsStatus::kAnswered);
    EXPECT_TRUE(reply.IsError());
    EXPECT_EQ(reply.ErrorCode(), -32001);
    EXPECT_EQ(reply.ErrorText(), "Session with given id not found.");
    EXPECT_TRUE(peer.Received().find("\"sessionId\"") != std::string::npos);
}

TEST(DevToolsPipe, NoAnswerTimesOutAndTheLateAnswerIsSkippedLater) {
    Peer peer;
    const auto start = Clock::now();
    DevToolsReply reply = peer.pipe->Request("Browser.getVersion", {}, "", 300);
    const auto waited = Clock::now() - start;
    EXPECT_EQ(reply.status, DevToolsStatus::kTimedOut);
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    peer.Send(std::string("{\"id\":1,\"result\":{\"late\":1}}") + '\0' +
              "{\"id\":2,\"result\":{\"mine\":2}}" + '\0');
    reply = peer.pipe->Request("Browser.getVersion", {}, "", 2000);
    ASSERT_EQ(reply.status, DevToolsStatus::kAnswered);
    EXPECT_EQ(reply.Result(), (nlohmann::json{{"mine", 2}}));
}

TEST(DevToolsPipe, ACommandCutShortByATimeoutIsFinishedBeforeTheNext) {
    Peer peer;
    // Larger than a pipe's buffer: the write stalls while nobody reads.
    const std::string big(300000, 'x');
    DevToolsReply reply = peer.pipe->Request("Runtime.evaluate", {{"expression", big}}, "", 300);
    EXPECT_EQ(reply.status, DevToolsStatus::kTimedOut);

    std::string received;
    std::thread reader([&] {
        char chunk[65536];
        std::size_t nuls = 0;
        while (nuls < 2) {
            const ssize_t n = ::read(peer.commands, chunk, sizeof chunk);
            if (n <= 0) break;
            received.append(chunk, static_cast<std::size_t>(n));
            nuls = static_cast<std::size_t>(std::count(received.begin(), received.end(), '\0'));
        }
        peer.Send(std::string("{\"id\":2,\"result\":{}}") + '\0');
    });
    reply = peer.pipe->Request("Browser.getVersion", {}, "", 5000);
    reader.join();
    EXPECT_EQ(reply.status, DevToolsStatus::kAnswered);
    // Two whole messages, in order.
    const std::size_t first = received.find('\0');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(received.substr(0, first))["params"]["expression"], big);
    EXPECT_EQ(nlohmann::json::parse(received.substr(first + 1, received.size() - first - 2))["id"],
              2);
}

TEST(DevToolsPipe, TheOtherSideGoingAwayIsReportedAsClosed) {
    {
        // The browser stops writing: end of file.
        Peer peer;
        ::close(peer.answers);
        peer.answers = -1;
        EXPECT_EQ(peer.pipe->Request("Browser.getVersion", {}, "", 2000).status,
                  DevToolsStatus::kClosed);
        EXPECT_EQ(peer.pipe->Request("Browser.getVersion", {}, "", 2000).status,
                  DevToolsStatus::kClosed);
    }
    {
        // Nobody reads the commands any more: the write fails with EPIPE, which must not end
        // this process through SIGPIPE.
        Peer peer;
        ::close(peer.commands);
        peer.commands = -1;
        const auto start = Clock::now();
        EXPECT_EQ(peer.pipe->Request("Browser.getVersion", {}, "", 2000).status,
                  DevToolsStatus::kClosed);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    }
}

}  // namespace
}  // namespace zenfo
