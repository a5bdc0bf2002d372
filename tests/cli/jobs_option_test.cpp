// zenfo-make --jobs: how many threads prepare photos.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "cli/make_options.h"

namespace zenfo {
namespace {

TEST(JobsOption, TakesACountOrDefaultsToTheCores) {
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(ParseMakeOptions({"x"}).Jobs, std::min(cores, kMaxJobs));
    EXPECT_EQ(ParseMakeOptions({"--jobs", "1", "x"}).Jobs, 1);
    EXPECT_EQ(ParseMakeOptions({"x", "--jobs", "3"}).Jobs, 3);
    EXPECT_EQ(ParseMakeOptions({"--jobs", "256", "x"}).Jobs, 256);
    for (const char* bad : {"0", "-2", "two", "3x", "", "257", "99999999999"}) {
        EXPECT_THROW(ParseMakeOptions({"--jobs", bad, "x"}), UsageError) << "'" << bad << "'";
    }
    EXPECT_THROW(ParseMakeOptions({"x", "--jobs"}), UsageError);
}

}  // namespace
}  // namespace zenfo
