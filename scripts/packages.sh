# The Debian packages zenfo needs, sourced by run.sh and test.sh.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libjpeg62-turbo-dev libicu-dev
  nlohmann-json3-dev libgl-dev)
RUN_PACKAGES=(chromium fonts-ipafont-gothic)
TEST_PACKAGES=(libgtest-dev xvfb xauth libjpeg-turbo-progs chromium fonts-ipafont-gothic)
# scripts/screenshot.sh: a virtual X display, a window manager, the window lister and the picture
# taker.
SCREENSHOT_PACKAGES=(xvfb openbox x11-utils imagemagick fonts-ipafont-gothic)
# bench/fuzz.sh: clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# bench/bench.sh: the decoder's own tool, ImageMagick and GNU time to compare against.
BENCH_PACKAGES=(libjpeg-turbo-progs imagemagick time)
