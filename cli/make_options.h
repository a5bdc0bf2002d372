// The command line of zenfo-make.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "album/settings.h"

namespace zenfo {

enum class AfterMake { None, Open, Slideshow };

struct MakeOptions {
    AlbumSettings Settings;  // AfterRun is not used; After says what follows the run
    bool ScreenWidthGiven = false;
    AfterMake After = AfterMake::None;
    bool Quiet = false;
    int Jobs = 0;  // worker threads of the run; 0 until parsed: the number of cores
    bool Help = false;
    std::string Target;  // a folder, or a file whose folder is the album's
};

// Bad usage; the message is a one-line hint.
class UsageError : public std::runtime_error {
  public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// The most worker threads --jobs takes.
inline constexpr int kMaxJobs = 256;

// Parses the arguments after the program name. Throws UsageError on bad usage.
MakeOptions ParseMakeOptions(const std::vector<std::string>& args);

// The text of --help.
extern const char* const kMakeUsage;

}  // namespace zenfo
