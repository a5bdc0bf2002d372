#include "album/run.h"

#include <exception>

#include "album/names.h"
#include "album/pages.h"
#include "album/text.h"

namespace zenfo {

const char* const kRunFinishedText = " サムネイルの作成が終了しました。";
const char* const kChooseFolderText = "　写真のあるフォルダを指定してください→";

std::string ProgressText(const std::string& name) {
    return name + "を処理しています";
}

namespace {

// Entries whose first two bytes read "S_" in any case are passed over.
bool IsSkipped(const std::string& name) {
    return AsciiUpper(name.substr(0, 2)) == "S_";
}

// Puts the window back as a finished run leaves it; on failure the progress text stays.
void RestoreWindow(RunWindow& window, const std::string& photoFolder, bool finished) {
    window.Show(RunControl::SelectFolder);
    window.Enable(RunControl::MakeThumbNail);
    window.Hide(RunControl::MakeThumbNail);
    window.Hide(RunControl::Image1);
    if (finished) window.SetText(RunControl::Label5, kRunFinishedText);
    window.SetText(RunControl::Label1, kChooseFolderText);
    window.SetText(RunControl::Label2, photoFolder);
    window.Show(RunControl::Label4);
    window.Show(RunControl::Memo1);
}

// When a run ends by an exception, restores the window and tells it, without catching anything.
class FailureGuard {
  public:
    FailureGuard(RunWindow& window, const std::string& photoFolder)
        : window_(window), photoFolder_(photoFolder), exceptions_(std::uncaught_exceptions()) {}
    ~FailureGuard() {
        if (std::uncaught_exceptions() > exceptions_) {
            RestoreWindow(window_, photoFolder_, false);
            window_.RunFailed();
        }
    }
    FailureGuard(const FailureGuard&) = delete;
    FailureGuard& operator=(const FailureGuard&) = delete;

  private:
    RunWindow& window_;
    const std::string& photoFolder_;
    int exceptions_;
};

}  // namespace

void RunAlbum(const RunContext& ctx, RunWindow& window) {
    // The position is reset before anything else, and the table emptied so that a slideshow
    // shows exactly this run's pages and then its index.
    ctx.Slideshow.Position = 0;
    ctx.Slideshow.Pages.clear();
    FailureGuard guard(window, ctx.PhotoFolder);

    window.Hide(RunControl::Label4);
    window.Hide(RunControl::Memo1);

    const AlbumSettings settings = window.ReadAlbumSettings();
    const int thumbSide = ThumbSide(settings);
    const int columnCount = ColumnCount(settings.ScreenWidth, thumbSide);
    const int bodySide = BodySide(settings);
    const bool makeBody = settings.LinkTarget == LinkChoice::CreatedFile;

    window.Hide(RunControl::SelectFolder);
    window.Disable(RunControl::MakeThumbNail);
    window.Show(RunControl::Image1);
    window.Show(RunControl::Label5);

    // One bitmap and one encoder for each kind of picture serve the whole run.
    RgbRaster thumbBitmap;
    JpegObject thumbJpeg(settings.ThumbDepth);
    RgbRaster bodyBitmap;
    JpegObject bodyJpeg(settings.BodyDepth);

    IndexPageWriter index;
    index.BeginIndexPage(ctx.PhotoFolder, settings, columnCount);

    const int photoCount = static_cast<int>(ctx.Photos.size());
    for (int number = 0; number < photoCount; ++number) {
        const PhotoEntry& entry = ctx.Photos[static_cast<std::size_t>(number)];
        if (IsSkipped(entry.Name)) continue;

        window.Progress(number, photoCount);
        window.SetText(RunControl::Label5, ProgressText(entry.Name));
        window.Repaint();

        ctx.Photo.LoadPhoto(ctx.PhotoFolder + entry.DiskName);
        window.PreviewChanged(ctx.Photo);

        const std::string stem = PhotoStem(settings.NamePrefix, number);
        const std::string thumbName = ThumbFileName(stem);
        const std::string pageName = PageFileName(stem);
        WriteScaledJpeg(ctx.Photo, thumbBitmap, thumbJpeg, thumbSide, ctx.PhotoFolder + thumbName);
        if (makeBody) {
            WriteScaledJpeg(ctx.Photo, bodyBitmap, bodyJpeg, bodySide,
                            ctx.PhotoFolder + BodyFileName(stem));
        }
        ctx.Slideshow.Pages.push_back(pageName);
        WritePhotoPage(ctx.PhotoFolder + pageName, makeBody ? BodyFileName(stem) : entry.DiskName,
                       settings.Title);
        index.AddIndexCell(pageName, thumbName, entry.Name);
    }

    index.FinishIndexPage();
    RestoreWindow(window, ctx.PhotoFolder, true);
}

}  // namespace zenfo
