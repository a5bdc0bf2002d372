// Writers of the album's HTML pages: index.html, streamed during a run, and the photo pages.
// Lines end in CR LF; text is written in CP932.
#pragma once

#include <string>
#include <vector>

#include "album/output_file.h"
#include "album/settings.h"

namespace zenfo {

// Cells per index table row: ScreenWidth / (ThumbSide / 10 + ThumbSide), at least 1.
int ColumnCount(int screenWidth, int thumbSide);

// Streams index.html. Errors raise EInOutError. The file is closed by FinishIndexPage or, after
// a failure, by the destructor (incomplete, without its tail).
class IndexPageWriter {
  public:
    IndexPageWriter() = default;
    IndexPageWriter(const IndexPageWriter&) = delete;
    IndexPageWriter& operator=(const IndexPageWriter&) = delete;

    // Creates photoFolder + "index.html", replacing any file of that name, and writes the head.
    void BeginIndexPage(const std::string& photoFolder, const AlbumSettings& settings,
                        int columnCount);
    // Writes one photo's linked thumbnail cell, opening and closing rows as needed. sourceName
    // is the name shown in the names row.
    void AddIndexCell(const std::string& pageFileName, const std::string& thumbFileName,
                      const std::string& sourceName);
    // Closes a partly filled row, writes the tail and closes the file.
    void FinishIndexPage();

  private:
    void WriteLine(const std::string& cp932Line);
    void WriteNames();

    FileDescriptor file_;  // open from BeginIndexPage to FinishIndexPage; closed on destruction
    int columnCount_ = 1;
    bool showNames_ = false;
    std::vector<std::string> rowNames_;
};

// Writes the eight-line page of one photo at path. pictureName is the bare name of the picture
// it shows (link-escaped on the way out). Errors raise EInOutError.
void WritePhotoPage(const std::string& path, const std::string& pictureName,
                    const std::string& title);

}  // namespace zenfo
