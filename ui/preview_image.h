// The run's preview: the loaded photo stretched over the whole area, proportions not kept.
#pragma once

#include <QImage>
#include <QWidget>

namespace zenfo {
class LoadedPhoto;
struct DecodedRaster;
}  // namespace zenfo

namespace zenfo::ui {

class PreviewImage : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewImage(QWidget* parent);

    // The photo to show from the next painting on; it stays owned by the caller.
    void SetPhoto(const LoadedPhoto* photo);
    // What the next painting draws, already stretched to the widget: null while the photo has
    // not been decoded (nothing is drawn then).
    QImage Picture();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const LoadedPhoto* photo_ = nullptr;
    const DecodedRaster* shownRaster_ = nullptr;  // the raster the cached picture was made from
    QImage picture_;
};

// The decoded raster stretched to size, in an image of its own; null when the raster holds
// fewer pixels than its size says.
QImage StretchedPicture(const DecodedRaster& raster, QSize size);

}  // namespace zenfo::ui
