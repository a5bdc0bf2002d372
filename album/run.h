// The album run: one pass over the photo list that writes every picture and page and index.html,
// driving whatever shows it (the window, or zenfo-make) through RunWindow.
#pragma once

#include <string>

#include "album/picture.h"
#include "album/scan.h"
#include "album/settings.h"
#include "album/slideshow_state.h"

namespace zenfo {

// The controls of the main window that a run changes.
enum class RunControl {
    Label1,
    Label2,
    Label4,
    Label5,
    Memo1,
    Image1,
    SelectFolder,
    MakeThumbNail
};

// What a run does to its window. The window implements it; zenfo-make prints progress with it.
class RunWindow {
  public:
    virtual ~RunWindow() = default;
    // The user's choices, read from the controls when the run asks (after hiding the description).
    virtual AlbumSettings ReadAlbumSettings() = 0;
    virtual void Show(RunControl control) = 0;
    virtual void Hide(RunControl control) = 0;
    virtual void Enable(RunControl control) = 0;
    virtual void Disable(RunControl control) = 0;
    virtual void SetText(RunControl control, const std::string& text) = 0;
    // Paints the whole window at once, handling no input.
    virtual void Repaint() = 0;
    // Photo photoNumber (from 0) of photoCount is about to be worked on; called before its
    // progress text is set.
    virtual void Progress(int photoNumber, int photoCount) = 0;
    // The preview has a newly loaded photo to show at its next painting.
    virtual void PreviewChanged(const LoadedPhoto& photo) = 0;
    // Whether the window paints the loaded photo. A run with worker threads for a window that
    // does not keeps no decoded raster for it (the photo decodes again only if drawn).
    virtual bool ShowsPreview() const { return true; }
    // The run is ending by the error on its way out; the window restores what it needs to.
    virtual void RunFailed() = 0;
};

// Where a run works: the scanned folder and what outlives the run.
struct RunContext {
    const std::string& PhotoFolder;
    const PhotoList& Photos;
    LoadedPhoto& Photo;         // the preview's photo, kept after the run
    SlideshowState& Slideshow;  // position reset and table refilled by the run
    // Worker threads that read, decode, scale and encode the next photos while the calling
    // thread writes the photo in hand; 1 or fewer: the whole run on the calling thread. Either
    // way the run writes and shows exactly the same.
    int Jobs = 1;
};

// Progress text of photo name while it is worked on.
std::string ProgressText(const std::string& name);
// The closing text of a finished run.
extern const char* const kRunFinishedText;
// Label1's text after a run.
extern const char* const kChooseFolderText;

// Runs the album over ctx.Photos. The first failure ends the run with its exception, after the
// window has been told through RunFailed; files written before it stay, index.html is closed
// without its tail. With ctx.Jobs above 1 the photos are prepared by that many worker threads,
// all joined before RunAlbum returns or throws; files, window calls, slideshow table, preview
// photo and errors are those of the run on one thread.
void RunAlbum(const RunContext& ctx, RunWindow& window);

}  // namespace zenfo
