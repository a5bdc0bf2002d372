// A headless Chromium for tests: loads local pages, waits until each has loaded and reads back
// what a script finds in it. The browser is killed when the object goes.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "presentation/chromium_browser.h"

namespace zenfo::test {

class HeadlessPages {
  public:
    explicit HeadlessPages(const std::string& profileRoot) : browser_(Options(profileRoot)) {}
    ~HeadlessPages() {
        if (pid_t pid = browser_.ProcessId()) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    HeadlessPages(const HeadlessPages&) = delete;
    HeadlessPages& operator=(const HeadlessPages&) = delete;

    // Shows path and, once it has loaded, returns the JSON object made of `fields` (JavaScript
    // object members, e.g. "images: document.images.length") with "href" added.
    nlohmann::json Load(const std::string& path, const std::string& fields) {
        browser_.Navigate(path);
        const std::string script =
            "new Promise(resolve => { const done = () => resolve(JSON.stringify({"
            "href: location.href, " +
            fields +
            "})); if (document.readyState === 'complete') done();"
            "else window.addEventListener('load', done); })";
        const nlohmann::json params = {
            {"expression", script}, {"awaitPromise", true}, {"returnByValue", true}};
        for (int attempt = 0; attempt < 50; ++attempt) {
            try {
                const nlohmann::json answer =
                    nlohmann::json::parse(browser_.Call("Runtime.evaluate", params.dump(), true));
                nlohmann::json page =
                    nlohmann::json::parse(answer.at("result").at("value").get<std::string>());
                if (page.at("href") == FileUrl(path)) return page;
            } catch (const std::exception&) {
                // The page may still be changing; ask again.
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ADD_FAILURE() << "page never loaded: " << path;
        return nlohmann::json::object();
    }

  private:
    static ChromiumOptions Options(const std::string& profileRoot) {
        ChromiumOptions o;
        o.ExtraArgs = {"--headless=new", "--disable-gpu", "--allow-file-access-from-files"};
        o.ProfileRoot = profileRoot;
        o.TimeoutMs = 10000;
        o.StartTimeoutMs = 30000;
        return o;
    }
    ChromiumBrowser browser_;
};

}  // namespace zenfo::test
