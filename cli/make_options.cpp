#include "cli/make_options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <thread>

namespace zenfo {

const char* const kMakeUsage =
    "使い方: zenfo-make [options] FOLDER|FILE\n"
    "  写真のフォルダ (または その中のファイル) から HTML の写真アルバムを作ります。\n"
    "  --title TEXT                 album title (default インデックス)\n"
    "  --description TEXT           a description line; repeat for more lines\n"
    "  --description-file F         description lines from a UTF-8 text file\n"
    "  --prefix TEXT                first part of the output file names (default photo)\n"
    "  --thumb small|medium|large   thumbnail box 64, 80 or 128 (default large)\n"
    "  --body small|medium|large    enlarged picture box 320, 512 or 800 (default medium)\n"
    "  --thumb-depth 8|24           thumbnail pixel format (default 24)\n"
    "  --body-depth 8|24            enlarged picture pixel format (default 8)\n"
    "  --show-names                 file names under the thumbnails\n"
    "  --link created|original      photo pages show an enlarged copy or the photo itself\n"
    "                               (default original)\n"
    "  --screen-width N             screen width for the index columns (default: the primary\n"
    "                               display's width, 1024 without a display)\n"
    "  --after none|open|slideshow  afterwards: nothing, open the index in the browser window, or\n"
    "                               show the photo pages one every 5 seconds (default none)\n"
    "  --jobs N                     photos prepared by N threads at once (default: the number\n"
    "                               of cores; 1: everything on one thread)\n"
    "  --quiet                      no progress output\n"
    "  -h, --help                   this help\n";

namespace {

SizeChoice ParseSize(const std::string& option, const std::string& value) {
    if (value == "small") return SizeChoice::Small;
    if (value == "medium") return SizeChoice::Medium;
    if (value == "large") return SizeChoice::Large;
    throw UsageError(option + " takes small, medium or large, not '" + value + "'");
}

DepthChoice ParseDepth(const std::string& option, const std::string& value) {
    if (value == "8") return DepthChoice::Depth8;
    if (value == "24") return DepthChoice::Depth24;
    throw UsageError(option + " takes 8 or 24, not '" + value + "'");
}

std::string ReadDescriptionFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("--description-file: cannot read '" + path + "'");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

MakeOptions ParseMakeOptions(const std::vector<std::string>& args) {
    MakeOptions options;
    AlbumSettings& s = options.Settings;
    bool descriptionGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "-h" || arg == "--help") {
            options.Help = true;
        } else if (arg == "--title") {
            s.Title = value();
        } else if (arg == "--description") {
            if (!descriptionGiven) s.DescriptionLines.clear();
            descriptionGiven = true;
            // A line each (an empty one too); a line break inside makes more lines, as typed into
            // the description field.
            const std::string& text = value();
            std::vector<std::string> lines = SplitDescription(text);
            if (lines.empty()) lines.emplace_back();
            for (std::string& line : lines) s.DescriptionLines.push_back(std::move(line));
        } else if (arg == "--description-file") {
            descriptionGiven = true;
            for (std::string& line : SplitDescription(ReadDescriptionFile(value()))) {
                s.DescriptionLines.push_back(std::move(line));
            }
        } else if (arg == "--prefix") {
            s.NamePrefix = value();
        } else if (arg == "--thumb") {
            s.ThumbSize = ParseSize(arg, value());
        } else if (arg == "--body") {
            s.BodySize = ParseSize(arg, value());
        } else if (arg == "--thumb-depth") {
            s.ThumbDepth = ParseDepth(arg, value());
        } else if (arg == "--body-depth") {
            s.BodyDepth = ParseDepth(arg, value());
        } else if (arg == "--show-names") {
            s.ShowNames = true;
        } else if (arg == "--link") {
            const std::string& v = value();
            if (v == "created") {
                s.LinkTarget = LinkChoice::CreatedFile;
            } else if (v == "original") {
                s.LinkTarget = LinkChoice::OriginalFile;
            } else {
                throw UsageError("--link takes created or original, not '" + v + "'");
            }
        } else if (arg == "--screen-width") {
            const std::string& v = value();
            int width = 0;
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), width);
            if (ec != std::errc() || end != v.data() + v.size() || width <= 0) {
                throw UsageError("--screen-width takes a positive whole number, not '" + v + "'");
            }
            s.ScreenWidth = width;
            options.ScreenWidthGiven = true;
        } else if (arg == "--after") {
            const std::string& v = value();
            if (v == "none") {
                options.After = AfterMake::None;
            } else if (v == "open") {
                options.After = AfterMake::Open;
            } else if (v == "slideshow") {
                options.After = AfterMake::Slideshow;
            } else {
                throw UsageError("--after takes none, open or slideshow, not '" + v + "'");
            }
        } else if (arg == "--jobs") {
            const std::string& v = value();
            int jobs = 0;
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), jobs);
            if (ec != std::errc() || end != v.data() + v.size() || jobs < 1 || jobs > kMaxJobs) {
                throw UsageError("--jobs takes a whole number from 1 to " +
                                 std::to_string(kMaxJobs) + ", not '" + v + "'");
            }
            options.Jobs = jobs;
        } else if (arg == "--quiet") {
            options.Quiet = true;
        } else if (arg == "--") {
            if (i + 1 < args.size()) options.Target = args[++i];
            if (i + 1 < args.size()) throw UsageError("only one FOLDER or FILE may be given");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (options.Target.empty()) {
            options.Target = arg;
        } else {
            throw UsageError("only one FOLDER or FILE may be given");
        }
    }
    if (!options.Help && options.Target.empty()) throw UsageError("a FOLDER or FILE is needed");
    if (options.Jobs == 0) {
        options.Jobs = static_cast<int>(
            std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxJobs)));
    }
    return options;
}

}  // namespace zenfo
