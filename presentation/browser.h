// The browser window behind an interface of its own: navigate to a local file, fail with a message.
#pragma once

#include <string>

#include "album/errors.h"

namespace zenfo {

// A failure of the browser window: it could not be started, did not answer in time, or refused a
// request. The message is shown to the user as it stands.
class BrowserError : public ZenfoError {
  public:
    explicit BrowserError(const std::string& message) : ZenfoError(message) {}
};

// The window that shows the album. Navigate makes sure the window exists (creating or reopening
// it as needed) and shows the local file; it throws BrowserError (or another ZenfoError) on
// failure.
class Browser {
  public:
    virtual ~Browser();
    virtual void Navigate(const std::string& localPath) = 0;
};

// Shows a local file (the photo folder followed by a bare file name) in the browser window.
void OpenInBrowser(Browser& browser, const std::string& path);

// Shows photoFolder + "index.html", navigating twice in a row to the same page; when the first
// navigation fails the second is not made.
void OpenIndexPage(Browser& browser, const std::string& photoFolder);

// The file:// URL of a local path. A relative path is taken from the current folder. Every byte
// other than ASCII letters, digits, "-", ".", "_", "~" and "/" is percent-encoded, so "#", "?",
// "%", spaces and non-ASCII names (valid UTF-8 or not) reach exactly the bytes on disk.
std::string FileUrl(const std::string& path);

}  // namespace zenfo
