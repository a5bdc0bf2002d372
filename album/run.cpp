#include "album/run.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "album/jpeg_internal.h"
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

// Photo bytes and rasters (megabytes each) get mappings of their own, given back when freed.
// Left to itself the allocator raises its mapping threshold after the first such free and then
// serves the next photos from per-thread heaps, which keep what they once held: with several
// workers that adds up to far more than the photos in flight. Process-wide, set once.
void MapLargeBuffers() {
    static std::once_flag once;
    std::call_once(once, [] { ::mallopt(M_MMAP_THRESHOLD, 1 << 20); });
}

// The files one photo gets.
struct PhotoFiles {
    std::string Thumb;
    std::string Body;
    std::string Page;
};

PhotoFiles FilesOf(const std::string& namePrefix, int number) {
    const std::string stem = PhotoStem(namePrefix, number);
    return {ThumbFileName(stem), BodyFileName(stem), PageFileName(stem)};
}

// What the scaled copies of a run are made with.
struct CopySettings {
    int DisplayDepth = kDefaultDisplayDepth;
    int ThumbSide = 0;
    int BodySide = 0;
    bool MakeBody = false;
};

// ---- Parallel run -----------------------------------------------------------------------------
//
// Worker threads read, decode, scale and encode the next photos into memory; the calling thread
// takes their results in list order and does everything that can be seen (window calls, files,
// slideshow table, index) exactly as the run on one thread does. A photo that a worker could not
// finish carries its exception and the step that failed, and the calling thread raises it at the
// point where the one-thread run would have failed.

// What a worker made of one photo, up to its first failure.
struct PreparedPhoto {
    // The steps of a photo in the order of the one-thread run.
    enum class Step { Read, Decode, Thumb, Body, Done };
    Step Failed = Step::Done;  // the step that failed; Done when none did
    std::exception_ptr Error;
    std::vector<std::uint8_t> Data;  // the whole photo file
    int Width = 0;                   // its upright size from the header; 0 x 0 when empty
    int Height = 0;
    std::unique_ptr<DecodedRaster> Decoded;
    std::vector<std::uint8_t> Thumb;  // the encoded copies
    std::vector<std::uint8_t> Body;
    detail::DecodeMemory Memory;   // what its decode needs
    std::uint64_t HeldData = 0;    // bytes counted for it in the pipeline's memory: its data
    std::uint64_t HeldRaster = 0;  // and its raster's storage
    bool Admitted = false;         // its decode was let start
    bool Ready = false;
};

// A scaled copy fitted to size and encoded, as WriteScaledJpeg makes it.
std::vector<std::uint8_t> ScaledCopy(const DecodedRaster& decoded, BoxSize size,
                                     RgbRaster& bitmap) {
    bitmap.Width = size.Width;
    bitmap.Height = size.Height;
    DrawScaled(decoded, bitmap);
    return EncodeJpeg(bitmap);
}

// One photo for the workers: where it is, its size on disk when the run plans, and the position
// of the last earlier photo whose files must all be written before it may be read (-1: none).
struct WorkItem {
    std::string Path;
    std::uint64_t Size = 0;
    int WaitFor = -1;
};

// Identity of a file, so that a photo reached through a link or under another spelling of its
// name is known as the file an output replaces.
struct FileKey {
    dev_t Device = 0;
    ino_t Inode = 0;
    bool operator==(const FileKey&) const = default;
};
struct FileKeyHash {
    std::size_t operator()(const FileKey& key) const {
        return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(key.Inode) * 31 +
                                          static_cast<std::uint64_t>(key.Device));
    }
};

bool KeyOf(const std::string& path, FileKey& key, std::uint64_t* size = nullptr) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    key = {st.st_dev, st.st_ino};
    if (size) *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

// The photos worked on (by position in `numbers`), each with the last earlier photo whose writes
// may change it: one of its output files has the photo's name (ASCII case ignored, for file
// systems that ignore it) or is the photo's file (a link). A photo that index.html may be waits
// for every earlier photo. Reading it no sooner gives it the bytes the one-thread run reads.
std::vector<WorkItem> PlanWork(const std::string& folder, const PhotoList& photos,
                               const std::vector<int>& numbers, const std::string& namePrefix,
                               bool makeBody) {
    const int count = static_cast<int>(numbers.size());
    std::vector<WorkItem> items(static_cast<std::size_t>(count));
    std::unordered_map<std::string, std::vector<int>> byName;
    std::unordered_map<FileKey, std::vector<int>, FileKeyHash> byFile;
    for (int pos = 0; pos < count; ++pos) {
        const std::string& diskName = photos[static_cast<std::size_t>(numbers[pos])].DiskName;
        byName[AsciiLower(diskName)].push_back(pos);
        WorkItem& item = items[static_cast<std::size_t>(pos)];
        item.Path = folder + diskName;
        FileKey key;
        if (KeyOf(item.Path, key, &item.Size)) byFile[key].push_back(pos);
    }
    auto barrier = [&](int q) -> int& { return items[static_cast<std::size_t>(q)].WaitFor; };
    // Calls hit(q) for every photo q that the file name may be.
    auto forEachAlias = [&](const std::string& name, const auto& hit) {
        if (auto it = byName.find(AsciiLower(name)); it != byName.end()) {
            for (int q : it->second) hit(q);
        }
        FileKey key;
        if (KeyOf(folder + name, key)) {
            if (auto it = byFile.find(key); it != byFile.end()) {
                for (int q : it->second) hit(q);
            }
        }
    };
    forEachAlias("index.html", [&](int q) { barrier(q) = q - 1; });
    for (int pos = 0; pos < count; ++pos) {
        const PhotoFiles files = FilesOf(namePrefix, numbers[pos]);
        auto holdBack = [&](int q) {
            if (q > pos) barrier(q) = std::max(barrier(q), pos);
        };
        forEachAlias(files.Thumb, holdBack);
        if (makeBody) forEachAlias(files.Body, holdBack);
        forEachAlias(files.Page, holdBack);
    }
    return items;
}

// Makes scaled copies from the rows of a decode as they come, selecting rows and columns as
// DrawScaled does, so that no raster of the whole photo is needed.
class CopyMaker final : public detail::RowSink {
  public:
    CopyMaker(int width, int height) : width_(width), height_(height) {}

    // Adds a copy of size into bitmap; false when its pixels cannot be had.
    bool Add(BoxSize size, RgbRaster& bitmap) {
        Target& t = targets_[count_++];
        t.Bitmap = &bitmap;
        bitmap.Width = size.Width;
        bitmap.Height = size.Height;
        if (size.Width <= 0 || size.Height <= 0) {
            bitmap.Pixels.clear();
            return true;
        }
        try {
            bitmap.Pixels.resize(static_cast<std::size_t>(size.Width) * size.Height * 3);
            t.Rows.resize(static_cast<std::size_t>(size.Height));
            t.Columns.resize(static_cast<std::size_t>(size.Width));
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int y = 0; y < size.Height; ++y) {
            t.Rows[y] = static_cast<int>(std::int64_t{y} * height_ / size.Height);
        }
        for (int x = 0; x < size.Width; ++x) {
            t.Columns[x] = static_cast<int>(std::int64_t{x} * width_ / size.Width);
        }
        return true;
    }

    void Begin(int width, int height, const std::uint8_t (*colourMap)[3],
               int colours) noexcept override {
        // The copies were planned for the size in the photo's header; any other output is
        // left alone (and Check reports it).
        matches_ = width == width_ && height == height_;
        indexed_ = colours > 0;
        for (int i = 0; i < colours && i < 256; ++i) {
            palette_[i] = {colourMap[i][0], colourMap[i][1], colourMap[i][2]};
        }
    }

    void Row(const std::uint8_t* pixels, int y) noexcept override {
        if (!matches_) return;
        for (std::size_t i = 0; i < count_; ++i) {
            Target& t = targets_[i];
            const std::size_t rowBytes = static_cast<std::size_t>(t.Bitmap->Width) * 3;
            // Every copy row that selects this photo row (several when enlarging).
            while (t.Next < t.Rows.size() && t.Rows[t.Next] == y) {
                std::uint8_t* out = t.Bitmap->Pixels.data() + t.Next * rowBytes;
                for (int column : t.Columns) {
                    const std::uint8_t* colour = indexed_ ? palette_[pixels[column]].data()
                                                          : pixels + std::size_t{3} * column;
                    out[0] = colour[0];
                    out[1] = colour[1];
                    out[2] = colour[2];
                    out += 3;
                }
                ++t.Next;
            }
        }
    }

    // After the decode: every row of every copy is filled.
    void Check() const {
        for (std::size_t i = 0; i < count_; ++i) {
            if (targets_[i].Next != targets_[i].Rows.size()) {
                throw std::logic_error("CopyMaker: the decode left rows of a copy unfilled");
            }
        }
    }

  private:
    struct Target {
        RgbRaster* Bitmap = nullptr;
        std::vector<int> Rows;     // photo row of each copy row
        std::vector<int> Columns;  // photo column of each copy column
        std::size_t Next = 0;      // the first copy row not yet filled
    };
    int width_;
    int height_;
    std::array<Target, 2> targets_;
    std::size_t count_ = 0;
    bool matches_ = false;
    bool indexed_ = false;
    std::array<std::array<std::uint8_t, 3>, 256> palette_{};
};

// The workers and their results.
//
// Memory. With rasters kept (a window shows the photo in hand), at most `workers` photos are
// started and not yet the photo in hand, so with that one at most workers + 1 decoded photos exist
// at once; photos start in list order. Without (nothing shows it), a raster lives only while its
// photo is scaled, at most `workers` at once, and finished photos wait with their bytes and copies
// only, their bytes within the budget below; a photo whose decoded rows are its upright rows has
// no raster at all, its copies being made from the rows as they come (CopyMaker). Either way a
// decode starts only when what it needs (its raster and the library's whole-image buffers) fits,
// with everything else held (photo bytes, rasters, spare storage), in (workers + 1) times the
// largest raster seen so far plus a little; the photo the calling thread waits for goes over that
// only when no other decode is under way. Without rasters kept, a photo that does not fit yet is
// put aside and the worker goes on with the next, and much larger photos a little further on are
// read first, so that the longest decodes start as early as memory allows.
//
// Storage. The storage of a raster given up (by the photo in hand, or after scaling when rasters
// are not kept) is decoded into again, which spares mapping, faulting in and zeroing fresh memory
// for every photo.
class PhotoPipeline {
  public:
    // keepRasters: the photo in hand keeps its decoded raster, for a window that shows it.
    PhotoPipeline(std::vector<WorkItem> items, CopySettings copy, int workers, bool keepRasters)
        : items_(std::move(items)),
          copy_(copy),
          slots_(workers),
          keepRasters_(keepRasters),
          results_(items_.size()) {
        // A thread that cannot be started ends the run; those already started are joined by
        // the destruction of workers_.
        workers_.reserve(static_cast<std::size_t>(workers));
        for (int i = 0; i < workers; ++i) {
            workers_.emplace_back([this](std::stop_token stop) { Work(stop); });
        }
    }
    // Stops the workers (each finishes the step it is in) and joins them.
    ~PhotoPipeline() = default;
    PhotoPipeline(const PhotoPipeline&) = delete;
    PhotoPipeline& operator=(const PhotoPipeline&) = delete;

    // Waits for the photo at pos, the next in list order, and takes its result.
    PreparedPhoto Take(std::size_t pos) {
        std::unique_lock lock(mutex_);
        awaited_ = pos;
        changed_.notify_all();  // a photo waiting for memory may be this one
        changed_.wait(lock, [&] { return results_[pos].Ready; });
        return std::move(results_[pos]);
    }
    // The photo taken last has replaced the photo in hand, which gave up its raster's storage.
    void Adopted(const PreparedPhoto& photo, std::vector<std::uint8_t> released) {
        {
            std::lock_guard lock(mutex_);
            --started_;
            used_ -= inHandData_ + inHandRaster_;
            ahead_ -= photo.HeldData;
            inHandData_ = photo.HeldData;
            inHandRaster_ = photo.HeldRaster;
            if (released.capacity() > 0) {
                used_ += released.capacity();
                spares_.push_back(std::move(released));
            }
        }
        changed_.notify_all();
    }
    // Every file of the photo at pos is written.
    void Written(std::size_t pos) {
        {
            std::lock_guard lock(mutex_);
            written_ = static_cast<int>(pos) + 1;
        }
        changed_.notify_all();
    }

  private:
    static constexpr std::uint64_t kSlack = std::uint64_t{48} << 20;
    static constexpr std::uint64_t kAhead = std::uint64_t{24} << 20;

    std::uint64_t Budget() const {
        return (static_cast<std::uint64_t>(slots_) + 1) * maxRaster_ + kSlack;
    }

    // Whether the photo at pos, not the one awaited, may be read now: its bytes fit in the budget,
    // and the bytes of the photos read ahead and not being decoded stay few, so that the photo
    // awaited, which may go over the budget when nothing else is decoded, does not go far over.
    bool MayReadAhead(std::size_t pos) const {
        return used_ + items_[pos].Size <= Budget() && ahead_ + items_[pos].Size <= kAhead;
    }

    // Whether the photo at next_ may be started (see Memory above). Without rasters kept, the
    // bytes of the photos read ahead stay within the budget too.
    bool MayStartNext() const {
        if (items_[next_].WaitFor >= written_) return false;
        if (keepRasters_) return started_ < slots_;
        return working_ < slots_ && (next_ <= awaited_ || MayReadAhead(next_));
    }

    // The photo to start when MayStartNext: next_, or, without rasters kept, a much larger photo a
    // little further on, so that the photos whose decodes take longest begin as early as memory
    // allows (put aside until then) rather than leave the other workers idle at the end.
    std::size_t NextToStart() const {
        std::size_t pick = next_;
        // The photo awaited goes first.
        if (keepRasters_ || next_ <= awaited_) return pick;
        const std::size_t end =
            std::min(items_.size(), next_ + 16 * static_cast<std::size_t>(slots_));
        for (std::size_t j = next_ + 1; j < end; ++j) {
            if (!claimed_[j] && items_[j].WaitFor < written_ &&
                items_[j].Size > 2 * items_[pick].Size && MayReadAhead(j)) {
                pick = j;
            }
        }
        return pick;
    }

    void Work(const std::stop_token& stop) {
        // Each worker's own working bitmaps serve all its photos.
        RgbRaster thumbBitmap;
        RgbRaster bodyBitmap;
        for (;;) {
            std::size_t pos = 0;
            bool resumed = false;
            PreparedPhoto photo;
            std::vector<std::uint8_t> storage;
            {
                std::unique_lock lock(mutex_);
                const bool go = changed_.wait(lock, stop, [&] {
                    // A photo put aside goes on first, once it fits: the one awaited, then the
                    // largest.
                    std::sort(parked_.begin(), parked_.end(), [&](std::size_t a, std::size_t b) {
                        if ((a <= awaited_) != (b <= awaited_)) return a <= awaited_;
                        return items_[a].Size > items_[b].Size;
                    });
                    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
                        if (TryAdmit(*it, results_[*it], storage)) {
                            pos = *it;
                            resumed = true;
                            parked_.erase(it);
                            return true;
                        }
                    }
                    if (next_ == items_.size()) return parked_.empty();
                    return MayStartNext();
                });
                if (!go) return;  // the run has ended
                if (resumed) {
                    photo = std::move(results_[pos]);
                } else {
                    if (next_ == items_.size()) return;  // nothing left
                    pos = NextToStart();
                    claimed_[pos] = true;
                    while (next_ < items_.size() && claimed_[next_]) ++next_;
                    ++started_;
                    // Its bytes count from now, at their size on disk until they are read.
                    photo.HeldData = items_[pos].Size;
                    used_ += photo.HeldData;
                    ahead_ += photo.HeldData;
                }
                ++working_;
            }
            if (!resumed) {
                if (!Read(pos, photo)) {
                    Publish(pos, std::move(photo));
                    continue;
                }
                if (keepRasters_) {
                    if (!WaitForRoom(pos, photo, storage, stop)) return;
                } else {
                    std::unique_lock lock(mutex_);
                    if (!TryAdmit(pos, photo, storage)) {
                        // Put aside: another photo may fit meanwhile.
                        results_[pos] = std::move(photo);
                        parked_.push_back(pos);
                        --working_;
                        continue;
                    }
                }
            }
            Decode(photo, std::move(storage), thumbBitmap, bodyBitmap);
            Publish(pos, std::move(photo));
        }
    }

    // Reads the photo and its header and plans its decode; false when that failed (the error is
    // kept in photo).
    bool Read(std::size_t pos, PreparedPhoto& photo) {
        using Step = PreparedPhoto::Step;
        Step step = Step::Read;
        // The one place that catches: a worker's exception belongs to the calling thread, which
        // raises it when this photo's turn comes.
        try {
            photo.Data = ReadPhotoFile(items_[pos].Path);
            // Empty content is not parsed: 0 x 0, failing when decoded, as in LoadPhoto.
            if (!photo.Data.empty()) {
                const detail::JpegHeader header = detail::ReadJpegHeader(photo.Data);
                photo.Width = header.Width;
                photo.Height = header.Height;
                step = Step::Decode;
                photo.Memory = detail::DecodeMemoryOf(photo.Data, copy_.DisplayDepth);
            }
        } catch (...) {
            photo.Error = std::current_exception();
            photo.Failed = step;
            return false;
        }
        std::lock_guard lock(mutex_);
        used_ = used_ - photo.HeldData + photo.Data.size();
        ahead_ = ahead_ - photo.HeldData + photo.Data.size();
        photo.HeldData = photo.Data.size();
        return true;
    }

    // Admits the decode of the photo at pos when it fits, or when it is the photo awaited, and
    // gives it a spare storage that suits its raster (large enough, and not much larger), if
    // there is one; idle spares are given back when the decode needs their room. Under mutex_.
    bool TryAdmit(std::size_t pos, PreparedPhoto& photo, std::vector<std::uint8_t>& storage) {
        const detail::DecodeMemory& memory = photo.Memory;
        maxRaster_ = std::max(maxRaster_, memory.Raster);
        const std::uint64_t budget = Budget();
        // A photo whose copies are made from its rows as they come keeps no raster.
        const std::uint64_t raster = Streams(photo) ? 0 : memory.Raster;
        const std::uint64_t room = raster + raster / 4;
        std::size_t chosen = spares_.size();
        std::uint64_t idle = 0;
        for (std::size_t i = 0; i < spares_.size(); ++i) {
            const std::uint64_t capacity = spares_[i].capacity();
            if (raster > 0 && capacity >= raster && capacity <= room &&
                (chosen == spares_.size() || capacity < spares_[chosen].capacity())) {
                chosen = i;
            }
            idle += capacity;
        }
        if (chosen < spares_.size()) idle -= spares_[chosen].capacity();
        // What the decode adds; a chosen spare is counted already.
        const std::uint64_t added = memory.Library + (chosen < spares_.size() ? 0 : raster);
        if (used_ - idle + added > budget) {
            // The photo awaited goes over the budget only when no other decode is under way
            // (those end by themselves), and no other decode starts while it waits.
            if (pos > awaited_ || decoding_ > 0) {
                if (pos <= awaited_) awaitedBlocked_ = true;
                return false;
            }
        } else if (pos > awaited_ && awaitedBlocked_) {
            return false;
        }
        if (pos <= awaited_) awaitedBlocked_ = false;
        ++decoding_;
        ahead_ -= photo.HeldData;
        photo.Admitted = true;
        if (chosen < spares_.size()) {
            storage = std::move(spares_[chosen]);
            spares_.erase(spares_.begin() + static_cast<std::ptrdiff_t>(chosen));
        }
        // Give back idle spares, the largest first, while the decode does not fit.
        while (used_ + added > budget && !spares_.empty()) {
            auto largest = std::max_element(
                spares_.begin(), spares_.end(),
                [](const auto& a, const auto& b) { return a.capacity() < b.capacity(); });
            used_ -= largest->capacity();
            spares_.erase(largest);
        }
        photo.HeldRaster = storage.capacity() > 0 ? storage.capacity() : raster;
        used_ += added;
        return true;
    }

    // Waits until TryAdmit admits the photo; false when the run has ended.
    bool WaitForRoom(std::size_t pos, PreparedPhoto& photo, std::vector<std::uint8_t>& storage,
                     const std::stop_token& stop) {
        std::unique_lock lock(mutex_);
        return changed_.wait(lock, stop, [&] { return TryAdmit(pos, photo, storage); });
    }

    // Decodes the photo into storage and makes its copies, as WriteScaledJpeg does; stops at the
    // first failure and keeps its exception.
    void Decode(PreparedPhoto& photo, std::vector<std::uint8_t> storage, RgbRaster& thumbBitmap,
                RgbRaster& bodyBitmap) {
        using Step = PreparedPhoto::Step;
        Step step = Step::Decode;
        try {
            if (Streams(photo) && DecodeStreamed(photo, thumbBitmap, bodyBitmap)) {
                photo.Failed = Step::Done;
                return;
            }
            photo.Decoded = std::make_unique<DecodedRaster>(
                DecodeJpeg(photo.Data, copy_.DisplayDepth, std::move(storage)));
            {
                // The library's buffers are gone with the decode.
                std::lock_guard lock(mutex_);
                used_ -= photo.Memory.Library;
            }
            changed_.notify_all();
            step = Step::Thumb;
            photo.Thumb = ScaledCopy(
                *photo.Decoded, FitToBox(photo.Width, photo.Height, copy_.ThumbSide), thumbBitmap);
            if (copy_.MakeBody) {
                step = Step::Body;
                photo.Body =
                    ScaledCopy(*photo.Decoded, FitToBox(photo.Width, photo.Height, copy_.BodySide),
                               bodyBitmap);
            }
            step = Step::Done;
        } catch (...) {
            photo.Error = std::current_exception();
            // A failure in the encoding of streamed copies has set its own step.
            if (photo.Failed != Step::Done) step = photo.Failed;
        }
        photo.Failed = step;
    }

    // Whether the copies of the photo are made from its rows as they are decoded, keeping no
    // raster: when nothing shows the photo in hand and its rows are its upright rows.
    bool Streams(const PreparedPhoto& photo) const {
        return !keepRasters_ && photo.Memory.RowsUpright && !photo.Data.empty();
    }

    // Decodes the photo into its copies row by row. False, having done nothing, when the working
    // bitmaps cannot be had first (the decode with a raster then fails, or not, where the
    // one-thread run does). Decoding failures leave as exceptions.
    bool DecodeStreamed(PreparedPhoto& photo, RgbRaster& thumbBitmap, RgbRaster& bodyBitmap) {
        CopyMaker maker(photo.Width, photo.Height);
        if (!maker.Add(FitToBox(photo.Width, photo.Height, copy_.ThumbSide), thumbBitmap) ||
            (copy_.MakeBody &&
             !maker.Add(FitToBox(photo.Width, photo.Height, copy_.BodySide), bodyBitmap))) {
            return false;
        }
        if (!detail::DecodeJpegRows(photo.Data, copy_.DisplayDepth, detail::DecodeMemoryLimit(),
                                    maker)) {
            return false;
        }
        maker.Check();
        {
            // The library's buffers are gone with the decode.
            std::lock_guard lock(mutex_);
            used_ -= photo.Memory.Library;
        }
        changed_.notify_all();
        photo.Failed = PreparedPhoto::Step::Thumb;
        photo.Thumb = EncodeJpeg(thumbBitmap);
        if (copy_.MakeBody) {
            photo.Failed = PreparedPhoto::Step::Body;
            photo.Body = EncodeJpeg(bodyBitmap);
        }
        return true;
    }

    void Publish(std::size_t pos, PreparedPhoto photo) {
        {
            std::lock_guard lock(mutex_);
            --working_;
            if (photo.Admitted) {
                --decoding_;
                ahead_ += photo.HeldData;
            }
            if (!keepRasters_ && photo.Decoded) {
                // Nothing shows the photo in hand: its raster's storage serves the next decode.
                used_ -= photo.HeldRaster;
                photo.HeldRaster = 0;
                if (photo.Decoded->Pixels.capacity() > 0) {
                    used_ += photo.Decoded->Pixels.capacity();
                    spares_.push_back(std::move(photo.Decoded->Pixels));
                }
                photo.Decoded.reset();
            }
            results_[pos] = std::move(photo);
            results_[pos].Ready = true;
        }
        changed_.notify_all();
    }

    const std::vector<WorkItem> items_;
    const CopySettings copy_;
    const int slots_;
    const bool keepRasters_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<bool> claimed_ = std::vector<bool>(items_.size());  // photos started
    std::size_t next_ = 0;             // position of the next photo to start
    std::size_t awaited_ = 0;          // the photo the calling thread waits for, or took last
    int decoding_ = 0;                 // photos admitted to decode and not yet finished
    bool awaitedBlocked_ = false;      // the photo awaited waits for room
    int working_ = 0;                  // photos being read, decoded or scaled by a worker
    int started_ = 0;                  // photos started and not yet taken over as the photo in hand
    int written_ = 0;                  // photos whose files are all written, counted from the first
    std::vector<std::size_t> parked_;  // photos read and put aside for want of memory
    std::uint64_t maxRaster_ = 0;      // the largest raster of the photos planned so far
    std::uint64_t used_ = 0;   // bytes of photo data, rasters, library buffers and spare storage
    std::uint64_t ahead_ = 0;  // of which photos read and not being decoded, not in hand, hold
    std::uint64_t inHandData_ = 0;                   // of which the photo in hand holds these
    std::uint64_t inHandRaster_ = 0;                 // and these
    std::vector<std::vector<std::uint8_t>> spares_;  // raster storage given up, to decode into
    std::vector<PreparedPhoto> results_;
    // Last, so that the workers are stopped and joined before anything they use goes.
    std::vector<std::jthread> workers_;
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
    std::vector<int> numbers;  // the photos worked on, in list order
    for (int number = 0; number < photoCount; ++number) {
        if (!IsSkipped(ctx.Photos[static_cast<std::size_t>(number)].Name)) {
            numbers.push_back(number);
        }
    }

    auto showProgress = [&](int number, const PhotoEntry& entry) {
        window.Progress(number, photoCount);
        window.SetText(RunControl::Label5, ProgressText(entry.Name));
        window.Repaint();
    };
    // The photo's pictures are written: its page, its slideshow entry and its index cell.
    auto finishPhoto = [&](const PhotoEntry& entry, const PhotoFiles& files) {
        ctx.Slideshow.Pages.push_back(files.Page);
        WritePhotoPage(ctx.PhotoFolder + files.Page, makeBody ? files.Body : entry.DiskName,
                       settings.Title);
        index.AddIndexCell(files.Page, files.Thumb, entry.Name);
    };

    MapLargeBuffers();
    const int workers = std::min<int>(ctx.Jobs, static_cast<int>(numbers.size()));
    if (workers <= 1) {
        for (int number : numbers) {
            const PhotoEntry& entry = ctx.Photos[static_cast<std::size_t>(number)];
            showProgress(number, entry);
            ctx.Photo.LoadPhoto(ctx.PhotoFolder + entry.DiskName);
            window.PreviewChanged(ctx.Photo);
            const PhotoFiles files = FilesOf(settings.NamePrefix, number);
            WriteScaledJpeg(ctx.Photo, thumbBitmap, thumbJpeg, thumbSide,
                            ctx.PhotoFolder + files.Thumb);
            if (makeBody) {
                WriteScaledJpeg(ctx.Photo, bodyBitmap, bodyJpeg, bodySide,
                                ctx.PhotoFolder + files.Body);
            }
            finishPhoto(entry, files);
        }
    } else {
        PhotoPipeline pipeline(
            PlanWork(ctx.PhotoFolder, ctx.Photos, numbers, settings.NamePrefix, makeBody),
            {ctx.Photo.DisplayDepth(), thumbSide, bodySide, makeBody}, workers,
            window.ShowsPreview());
        using Step = PreparedPhoto::Step;
        for (std::size_t pos = 0; pos < numbers.size(); ++pos) {
            const int number = numbers[pos];
            const PhotoEntry& entry = ctx.Photos[static_cast<std::size_t>(number)];
            showProgress(number, entry);
            PreparedPhoto photo = pipeline.Take(pos);
            // A photo that could not be read or whose header is bad leaves the photo in hand.
            if (photo.Failed == Step::Read) std::rethrow_exception(photo.Error);
            std::vector<std::uint8_t> released = ctx.Photo.Adopt(
                std::move(photo.Data), photo.Width, photo.Height, std::move(photo.Decoded));
            pipeline.Adopted(photo, std::move(released));
            window.PreviewChanged(ctx.Photo);
            if (photo.Failed == Step::Decode || photo.Failed == Step::Thumb) {
                std::rethrow_exception(photo.Error);
            }
            const PhotoFiles files = FilesOf(settings.NamePrefix, number);
            WriteOutputFile(ctx.PhotoFolder + files.Thumb, photo.Thumb);
            if (makeBody) {
                if (photo.Failed == Step::Body) std::rethrow_exception(photo.Error);
                WriteOutputFile(ctx.PhotoFolder + files.Body, photo.Body);
            }
            finishPhoto(entry, files);
            pipeline.Written(pos);
        }
    }

    index.FinishIndexPage();
    RestoreWindow(window, ctx.PhotoFolder, true);
}

}  // namespace zenfo
