// A browser window that records every navigation and fails the ones it is told to.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "presentation/browser.h"

namespace zenfo::test {

class FakeBrowser : public Browser {
  public:
    // Every navigation asked for, failed ones included, in order.
    std::vector<std::string> Navigations;
    // path -> how many more navigations to it fail.
    std::map<std::string, int> Failures;

    void Navigate(const std::string& localPath) override {
        Navigations.push_back(localPath);
        auto it = Failures.find(localPath);
        if (it != Failures.end() && it->second > 0) {
            --it->second;
            throw BrowserError("ブラウザが応答しません");
        }
    }
};

}  // namespace zenfo::test
