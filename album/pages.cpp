#include "album/pages.h"

#include <cerrno>

#include "album/errors.h"
#include "album/output_file.h"
#include "album/text.h"

namespace zenfo {

namespace {

constexpr char kLineEnd[] = "\r\n";

// Opens path for a page, raising the I/O error of its errno.
FileDescriptor CreatePage(const std::string& path) {
    FileDescriptor fd = CreateForWriting(path);
    if (!fd.IsOpen()) throw EInOutError(errno);
    return fd;
}

void WritePageLine(int fd, const std::string& line) {
    std::string withEnd = line + kLineEnd;
    if (!WriteAll(fd, withEnd.data(), withEnd.size())) throw EInOutError(errno);
}

void ClosePage(FileDescriptor& fd) {
    if (!fd.Close()) throw EInOutError(errno);
}

}  // namespace

int ColumnCount(int screenWidth, int thumbSide) {
    int divisor = thumbSide / 10 + thumbSide;
    if (divisor <= 0) return 1;
    int columns = screenWidth / divisor;
    return columns < 1 ? 1 : columns;
}

void IndexPageWriter::WriteLine(const std::string& cp932Line) {
    WritePageLine(file_.Get(), cp932Line);
}

void IndexPageWriter::BeginIndexPage(const std::string& photoFolder, const AlbumSettings& settings,
                                     int columnCount) {
    file_ = CreatePage(photoFolder + "index.html");
    columnCount_ = columnCount < 1 ? 1 : columnCount;
    showNames_ = settings.ShowNames;
    rowNames_.clear();

    const std::string title = ToCp932Text(settings.Title);
    WriteLine("<!doctype html public \"-//w3c//dtd html 4.0 transitional//en\"><html>");
    WriteLine("<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">");
    WriteLine("<title>" + title + "</title>");
    WriteLine("</head>");
    WriteLine("<body bgcolor=\"#006600\">");
    WriteLine("<br><center><h3><font color=\"#ffff00\">" + title + "</font></h3>");
    for (const std::string& line : settings.DescriptionLines) {
        WriteLine("<p>" + ToCp932Text(line) + "</p>");
    }
    if (!settings.DescriptionLines.empty()) WriteLine("<br>");
    WriteLine("<table bordercolor=\"#006600\" rules=\"all\" cellpadding=5 cellspacing=0>");
    WriteLine("<font size=1>");
}

void IndexPageWriter::WriteNames() {
    for (const std::string& name : rowNames_)
        WriteLine("<td>" + ToCp932EscapedText(name) + "</td>");
}

void IndexPageWriter::AddIndexCell(const std::string& pageFileName,
                                   const std::string& thumbFileName,
                                   const std::string& sourceName) {
    rowNames_.push_back(sourceName);
    if (rowNames_.size() == 1) WriteLine("<tr>");
    WriteLine("<td align=\"center\" Valign=\"center\"><a href=\"" + ToCp932Link(pageFileName) +
              "\"><img src=\"" + ToCp932Link(thumbFileName) + "\" alt=\"" +
              ToCp932EscapedText(thumbFileName) + "\" border=0 + ></a></td>");
    if (static_cast<int>(rowNames_.size()) == columnCount_) {
        WriteLine("</tr>");
        if (showNames_) {
            // A full row's names row has no end tag of its own; a spacer row follows it.
            WriteLine("<tr>");
            WriteNames();
            WriteLine("<tr>");
            for (std::size_t i = 0; i < rowNames_.size(); ++i) WriteLine("<td>  </td>");
            WriteLine("</tr>");
        }
        rowNames_.clear();
    }
}

void IndexPageWriter::FinishIndexPage() {
    if (!rowNames_.empty()) {
        WriteLine("</tr>");
        if (showNames_) {
            WriteLine("<tr>");
            WriteNames();
            WriteLine("</tr>");
        }
        rowNames_.clear();
    }
    WriteLine("</table>");
    WriteLine("</font>");
    WriteLine("</body>");
    WriteLine("</html>");
    ClosePage(file_);
}

void WritePhotoPage(const std::string& path, const std::string& pictureName,
                    const std::string& title) {
    FileDescriptor fd = CreatePage(path);
    WritePageLine(fd.Get(), "<html>");
    WritePageLine(fd.Get(), "<head>");
    WritePageLine(fd.Get(), "<title>" + ToCp932Text(title) + "</title>");
    WritePageLine(fd.Get(), "</head>");
    WritePageLine(fd.Get(), "<body><a href=\"index.html\">");
    WritePageLine(fd.Get(), "<img src=\"" + ToCp932Link(pictureName) + "\" border=\"0\">");
    WritePageLine(fd.Get(),
                  ToCp932Text("</a><p>画像の上で右クリックし、コピーして、<br>使いたいソフトに"
                              "はりつけることができます。<br><br>画像の上で左クリックすると"
                              "サムネイルにもどります。</p></body>"));
    WritePageLine(fd.Get(), "</html>");
    ClosePage(fd);
}

}  // namespace zenfo
