// Runs the album of a folder as the window would, with a window that shows nothing.
#pragma once

#include <string>

#include "album/errors.h"
#include "album/run.h"
#include "album/scan.h"

namespace zenfo::test {

class QuietWindow : public RunWindow {
  public:
    explicit QuietWindow(AlbumSettings settings) : settings_(std::move(settings)) {}
    AlbumSettings ReadAlbumSettings() override { return settings_; }
    void Show(RunControl) override {}
    void Hide(RunControl) override {}
    void Enable(RunControl) override {}
    void Disable(RunControl) override {}
    void SetText(RunControl, const std::string&) override {}
    void Repaint() override {}
    void Progress(int, int) override {}
    void PreviewChanged(const LoadedPhoto&) override {}
    void RunFailed() override {}

  private:
    AlbumSettings settings_;
};

// Scans photoFolder (ending with "/") and runs the album there. Returns the message of the error
// that ended the run, or an empty string when the run finished.
inline std::string RunAlbumQuietly(const std::string& photoFolder, const AlbumSettings& settings,
                                   PhotoList* scanned = nullptr) {
    const ScannedFolder folder = ScanPhotoFolder(photoFolder);
    if (scanned) *scanned = folder.Photos;
    LoadedPhoto photo;
    SlideshowState slideshow;
    QuietWindow window(settings);
    try {
        RunAlbum({folder.PhotoFolder, folder.Photos, photo, slideshow}, window);
    } catch (const ZenfoError& e) {
        return e.what();
    }
    return {};
}

}  // namespace zenfo::test
