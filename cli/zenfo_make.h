// zenfo-make: makes the album of one folder without a window, then optionally shows it.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zenfo {

// Runs zenfo-make with the arguments after the program name; progress and errors go to err.
// Returns the exit status: 0 done, 1 the run (or the browser) failed, 2 bad usage.
int RunZenfoMake(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zenfo
