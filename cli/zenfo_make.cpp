#include "cli/zenfo_make.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <thread>

#include "album/errors.h"
#include "album/run.h"
#include "album/scan.h"
#include "cli/make_options.h"
#include "presentation/chromium_browser.h"
#include "presentation/slideshow.h"

namespace zenfo {

namespace {

struct ScreenSize {
    int Width = 1024;
    int Height = 768;
};

// The primary display's size as xrandr reports it, or 1024 x 768 without a display.
ScreenSize PrimaryScreenSize() {
    ScreenSize size;
    if (!std::getenv("DISPLAY")) return size;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen("xrandr --current 2>/dev/null", "r"),
                                               ::pclose);
    if (!pipe) return size;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        int w = 0, h = 0;
        const char* current = std::strstr(line, " current ");
        if (current && std::sscanf(current, " current %d x %d", &w, &h) == 2 && w > 0 && h > 0) {
            size.Width = w;
            size.Height = h;
            break;
        }
    }
    return size;
}

// An absolute path for the scan: a folder stands for itself, a file for its folder.
std::string ScanPath(const std::string& target) {
    std::string path = target;
    if (path.front() != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && path.back() != '/') path += "/";
    return path;
}

// Shows the run's progress as lines on the error stream; the window's controls mean nothing here.
class ConsoleRunWindow : public RunWindow {
  public:
    ConsoleRunWindow(const AlbumSettings& settings, bool quiet, std::ostream& err)
        : settings_(settings), quiet_(quiet), err_(err) {}

    AlbumSettings ReadAlbumSettings() override { return settings_; }
    void Show(RunControl) override {}
    void Hide(RunControl) override {}
    void Enable(RunControl) override {}
    void Disable(RunControl) override {}
    void SetText(RunControl control, const std::string& text) override {
        if (quiet_ || control != RunControl::Label5) return;
        err_ << prefix_
             << (prefix_.empty() && !text.empty() && text[0] == ' ' ? text.substr(1) : text)
             << std::endl;
        prefix_.clear();
    }
    void Repaint() override {}
    void Progress(int photoNumber, int photoCount) override {
        prefix_ = "[" + std::to_string(photoNumber + 1) + "/" + std::to_string(photoCount) + "] ";
    }
    void PreviewChanged(const LoadedPhoto&) override {}
    bool ShowsPreview() const override { return false; }
    void RunFailed() override {}

  private:
    AlbumSettings settings_;
    bool quiet_;
    std::ostream& err_;
    std::string prefix_;
};

void ReportError(std::ostream& err, const std::string& message) {
    err << "zenfo-make: " << ErrorReportText(message) << std::endl;
}

// Shows the pages one every five seconds, then the index; a failed step is reported and the show
// goes on, as the window's timer does. Gives up after three failed tries at the index.
bool RunSlideshow(SlideshowState& state, Browser& browser, const std::string& folder,
                  std::ostream& err) {
    StartSlideshow(state);
    bool ok = true;
    int indexFailures = 0;
    while (state.Active) {
        try {
            SlideshowStep(state, browser, folder);
        } catch (const ZenfoError& e) {
            ReportError(err, e.what());
            ok = false;
            if (state.Entry(state.Position).empty() && ++indexFailures >= 3) break;
        }
        if (state.Active) std::this_thread::sleep_for(std::chrono::seconds(5));
    }
    return ok;
}

}  // namespace

int RunZenfoMake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    MakeOptions options;
    try {
        options = ParseMakeOptions(args);
    } catch (const UsageError& e) {
        err << "zenfo-make: " << e.what() << " (zenfo-make --help で使い方を表示します)"
            << std::endl;
        return 2;
    }
    if (options.Help) {
        out << kMakeUsage;
        return 0;
    }

    ScreenSize screen;
    if (options.After != AfterMake::None || !options.ScreenWidthGiven) screen = PrimaryScreenSize();
    if (!options.ScreenWidthGiven) options.Settings.ScreenWidth = screen.Width;

    const ScannedFolder scanned = ScanPhotoFolder(ScanPath(options.Target));
    SlideshowState& slideshow = ProcessSlideshow();
    LoadedPhoto photo(kDefaultDisplayDepth);
    ConsoleRunWindow window(options.Settings, options.Quiet, err);
    try {
        RunAlbum({scanned.PhotoFolder, scanned.Photos, photo, slideshow, options.Jobs}, window);
    } catch (const std::exception& e) {
        ReportError(err, e.what());
        return 1;
    }

    if (options.After == AfterMake::None) return 0;
    ChromiumOptions browserOptions;
    browserOptions.DisplayWidth = screen.Width;
    browserOptions.DisplayHeight = screen.Height;
    ChromiumBrowser browser(browserOptions);
    if (options.After == AfterMake::Open) {
        try {
            OpenIndexPage(browser, scanned.PhotoFolder);
        } catch (const ZenfoError& e) {
            ReportError(err, e.what());
            return 1;
        }
        return 0;
    }
    return RunSlideshow(slideshow, browser, scanned.PhotoFolder, err) ? 0 : 1;
}

}  // namespace zenfo
