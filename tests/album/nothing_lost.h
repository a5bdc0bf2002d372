// A check that an album run lost nothing: the photos' bytes are unchanged afterwards and nothing
// was written outside the photo folder.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>

#include "test_util.h"

namespace zenfo::test {

// Takes a snapshot of a photo folder and of the folder around it. Check() afterwards finds
// - a file of the photo folder whose bytes changed, or that is gone;
// - a new file in the photo folder that is not one the album writes (index.html, zenfo-*);
// - any change in the surroundings: entries added, removed or changed (type, size, time) in the
//   folder that holds the photo folder, or in any other folder below it.
// Files the snapshot cannot read (a photo made unreadable on purpose, a FIFO, a dangling or
// looping link) are compared by their metadata only.
class NothingLost {
  public:
    // photoFolder must lie inside root (both ending with "/"); root is the test's own folder.
    NothingLost(std::string root, std::string photoFolder)
        : root_(std::move(root)), photoFolder_(std::move(photoFolder)) {
        photos_ = ReadFolder(photoFolder_);
        surroundings_ = Listing(root_);
    }

    ::testing::AssertionResult Check() const {
        std::string faults;
        const std::map<std::string, Entry> now = ReadFolder(photoFolder_);
        for (const auto& [name, before] : photos_) {
            auto it = now.find(name);
            if (it == now.end()) {
                faults += "\n  gone: " + name;
            } else if (it->second != before && !IsAlbumOutput(name)) {
                // An album's own output of an earlier run may be replaced; nothing else may.
                faults += "\n  changed: " + name;
            }
        }
        for (const auto& [name, entry] : now) {
            if (!photos_.count(name) && !IsAlbumOutput(name)) faults += "\n  new: " + name;
        }
        const std::map<std::string, std::string> around = Listing(root_);
        for (const auto& [path, meta] : surroundings_) {
            auto it = around.find(path);
            if (it == around.end()) {
                faults += "\n  gone outside the photo folder: " + path;
            } else if (it->second != meta) {
                faults += "\n  changed outside the photo folder: " + path;
            }
        }
        for (const auto& [path, meta] : around) {
            if (!surroundings_.count(path))
                faults += "\n  written outside the photo folder: " + path;
        }
        if (faults.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the run lost or touched something:" << faults;
    }

  private:
    struct Entry {
        std::string meta;   // type and size
        bool read = false;  // bytes holds the content
        std::string bytes;
        bool operator!=(const Entry& o) const {
            return meta != o.meta || read != o.read || bytes != o.bytes;
        }
    };

    static bool IsAlbumOutput(const std::string& name) {
        return name == "index.html" || name.rfind("zenfo-", 0) == 0;
    }

    static std::string Meta(const struct stat& st, bool withTime) {
        std::string meta = std::to_string(st.st_mode) + " " + std::to_string(st.st_size);
        if (withTime) {
            meta +=
                " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        }
        return meta;
    }

    // Every entry of folder (not descending) with its bytes where they can be read.
    static std::map<std::string, Entry> ReadFolder(const std::string& folder) {
        std::map<std::string, Entry> entries;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return entries;
        while (dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = folder + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) continue;
            Entry entry;
            entry.meta = Meta(st, false);
            struct stat target;
            if (::stat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode) &&
                ::access(path.c_str(), R_OK) == 0 && (target.st_mode & 0444) != 0) {
                try {
                    entry.bytes = ReadFileBytes(path);
                    entry.read = true;
                } catch (const std::exception&) {
                }
            }
            entries[name] = std::move(entry);
        }
        ::closedir(dir);
        return entries;
    }

    // Every path below root except inside the photo folder, with its metadata.
    std::map<std::string, std::string> Listing(const std::string& folder) const {
        std::map<std::string, std::string> listing;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) return listing;
        while (dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = folder + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode)) {
                if (path + "/" == photoFolder_) {
                    listing[path + "/"] = "the photo folder";
                    continue;
                }
                listing[path + "/"] = Meta(st, false);
                for (auto& [p, m] : Listing(path + "/")) listing[p] = m;
            } else {
                listing[path] = Meta(st, true);
            }
        }
        ::closedir(dir);
        return listing;
    }

    std::string root_;
    std::string photoFolder_;
    std::map<std::string, Entry> photos_;
    std::map<std::string, std::string> surroundings_;
};

}  // namespace zenfo::test
