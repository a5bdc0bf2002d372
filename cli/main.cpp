// zenfo-make: the album of a photo folder from the command line.
#include <clocale>
#include <iostream>

#include "cli/zenfo_make.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    return zenfo::RunZenfoMake(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                               std::cerr);
}
