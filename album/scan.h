// The photo folder scan: which photos an album holds, in which order, and where it is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zenfo {

// One photo of the folder.
struct PhotoEntry {
    std::string Name;      // lower-cased UTF-8 name: shown, written into the names row, "S_" test
    std::string DiskName;  // exact bytes of the name on disk: opens the photo, links the original
};

using PhotoList = std::vector<PhotoEntry>;

struct ScannedFolder {
    std::string
        PhotoFolder;   // the folder part of the scanned path, up to and including the last "/"
    PhotoList Photos;  // its JPEG files in album order
};

// Scans the folder of filePath (the file itself need not exist): every regular file whose
// extension is ".jpg" or ".jpeg" in any case, hidden names (leading ".") left out, sorted by the
// user's locale collation with case ignored. Reports nothing: a missing or unreadable folder
// gives an empty list with PhotoFolder still set.
ScannedFolder ScanPhotoFolder(std::string_view filePath);

// The folder part of a path: up to and including its last "/", or empty when it has none.
std::string FolderOf(std::string_view filePath);

// Whether name's extension (from its last ".") is ".jpg" or ".jpeg" in any case.
bool HasJpegExtension(std::string_view name);

// The album order: negative, zero or positive as a sorts before, equal to or after b.
int ComparePhotoNames(std::string_view a, std::string_view b);

}  // namespace zenfo
