// The user's choices for one album run, with their option tables and defaults.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zenfo {

// Each number is the index of the radio item that selects the value.
enum class SizeChoice { Small = 0, Medium = 1, Large = 2 };
enum class DepthChoice { Depth8 = 0, Depth24 = 1 };
enum class LinkChoice { CreatedFile = 0, OriginalFile = 1 };
enum class AfterRunChoice { OpenIndex = 0, RunSlideshow = 1, NoAction = 2 };

// The record a run reads once at its start; strings are UTF-8 exactly as typed.
struct AlbumSettings {
    std::string Title = "インデックス";
    std::vector<std::string> DescriptionLines;
    std::string NamePrefix = "photo";
    SizeChoice ThumbSize = SizeChoice::Large;
    SizeChoice BodySize = SizeChoice::Medium;
    DepthChoice ThumbDepth = DepthChoice::Depth24;
    DepthChoice BodyDepth = DepthChoice::Depth8;
    bool ShowNames = false;
    LinkChoice LinkTarget = LinkChoice::OriginalFile;
    AfterRunChoice AfterRun = AfterRunChoice::OpenIndex;
    int ScreenWidth = 1024;
};

// Box side of the thumbnail: Small 64, Medium 80, Large 128.
int ThumbSide(const AlbumSettings& settings);
// Box side of the enlarged picture: Small 320, Medium 512, Large 800.
int BodySide(const AlbumSettings& settings);

// The longest a description line may be, in bytes of its CP932 form.
inline constexpr std::size_t kMaxDescriptionLineBytes = 4096;

// Splits the text of the description field into lines as the field divides them: at CR LF, LF
// or CR; a single empty line at the very end does not count, every other empty line does; each
// line is cut at kMaxDescriptionLineBytes bytes of its CP932 form, never inside a character.
std::vector<std::string> SplitDescription(std::string_view text);

}  // namespace zenfo
