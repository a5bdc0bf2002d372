// The browser window as a Chromium (or Chrome) window driven through the DevTools protocol over
// a private pipe (--remote-debugging-pipe); no network port is ever opened.
#pragma once

#include <sys/types.h>

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "presentation/browser.h"

namespace zenfo {

class DevToolsPipe;
struct DevToolsReply;

struct ChromiumOptions {
    // The browser program (a name looked up on PATH, or a path). Empty: ZENFO_BROWSER when set,
    // else the first of chromium, chromium-browser, google-chrome, google-chrome-stable on PATH.
    std::string Command;
    // Further command-line arguments (tests pass --headless=new and the like).
    std::vector<std::string> ExtraArgs;
    // The window's size: the whole primary display.
    int DisplayWidth = 1024;
    int DisplayHeight = 768;
    // How long each request waits for the browser's answer.
    int TimeoutMs = 5000;
    // How long the first request to a freshly started browser waits: a cold start takes longer
    // than an answer.
    int StartTimeoutMs = 15000;
    // Where each browser gets a profile folder of its own. Empty: $XDG_RUNTIME_DIR/zenfo, else
    // $XDG_CACHE_HOME/zenfo, else ~/.cache/zenfo.
    std::string ProfileRoot;
};

// Starts the browser on the first navigation and keeps using it. A page the user has closed is
// replaced by a new window in the same browser; a browser that has gone is replaced by a new one.
// The browser outlives this object and the program: it holds its own copies of both pipe ends,
// and the destructor neither closes nor kills it.
class ChromiumBrowser : public Browser {
  public:
    explicit ChromiumBrowser(ChromiumOptions options);
    ~ChromiumBrowser() override;
    ChromiumBrowser(const ChromiumBrowser&) = delete;
    ChromiumBrowser& operator=(const ChromiumBrowser&) = delete;

    void Navigate(const std::string& localPath) override;

    // The process id of the browser in use, or 0 when none has been started (or it has gone).
    pid_t ProcessId() const { return pid_; }
    // The profile folder of the browser in use, or an empty string.
    const std::string& ProfileFolder() const { return profile_; }
    // Sends one protocol command (params as JSON text) to the browser, or to the album page when
    // onPage is set, and returns the answer's result as JSON text. For diagnostics and tests.
    std::string Call(const std::string& method, const std::string& paramsJson, bool onPage);

  private:
    void Launch();
    // Sends one command and waits for its answer; throws when none comes in time.
    DevToolsReply Ask(const std::string& method, const nlohmann::json& params,
                      const std::string& sessionId);
    // Navigates the album page, opening a new one when it was closed; false when the browser
    // has gone.
    bool NavigateOnce(const std::string& url);
    // Attaches to the album page (the first page of a new browser, else a new window); false
    // when the browser has gone.
    bool OpenPage();
    void ForgetBrowser();
    bool BrowserHasExited();

    ChromiumOptions options_;
    pid_t pid_ = 0;
    std::string executable_;  // the program that was started
    std::string profile_;
    std::unique_ptr<DevToolsPipe> pipe_;
    bool fresh_ = false;      // no request has been sent to this browser yet
    bool firstPage_ = false;  // the browser's own first page has not been taken yet
    std::string sessionId_;   // our session on the album page; empty when there is none
};

// The profile root that an empty ChromiumOptions::ProfileRoot stands for.
std::string DefaultProfileRoot();

// Removes every profile folder under root whose browser no longer runs.
void RemoveStaleProfiles(const std::string& root);

}  // namespace zenfo
