#!/bin/sh
# Sets up a Debian or Ubuntu machine for dotfall and builds it, then runs it
# on your display (./build.sh run), runs the test suite on private X servers
# (./build.sh test), or measures its speed (./build.sh bench). ./build.sh
# windows cross-builds build-windows/dotfall.exe and its zip; the tests build
# it too and run it under Wine.
set -eu
cd "$(dirname "$0")"

case "${1:-}" in
run|test|bench|windows) ;;
*) echo "usage: $0 run|test|bench|windows" >&2; exit 2 ;;
esac

packages="cmake make"
[ "$1" = windows ] || packages="$packages g++ pkg-config liballegro4-dev x11-utils"
[ "$1" = run ] || [ "$1" = windows ] ||
	packages="$packages libgtest-dev libbenchmark-dev libx11-dev libxtst-dev xvfb"
[ "$1" = test ] && packages="$packages groff-base desktop-file-utils dpkg-dev file wine wine64"
[ "$1" = test ] || [ "$1" = windows ] && packages="$packages g++-mingw-w64-x86-64 mingw-w64-x86-64-dev patch"

tools/install-packages.sh $packages

# The library for Windows (fetched once, then kept in build-windows/allegro),
# dotfall.exe and build-windows/dotfall-<version>-win64.zip.
if [ "$1" = test ] || [ "$1" = windows ]; then
	windows/build-library.sh build-windows
	cmake --preset windows
	cmake --build --preset windows -j "$(nproc)"
	(cd build-windows && cpack)
	[ "$1" = test ] || exit 0
fi

if [ "$1" = run ]; then
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build -j "$(nproc)"
	exec build/dotfall
fi

if [ "$1" = bench ]; then
	cmake --preset release
	cmake --build --preset release -j "$(nproc)"
	exec build/bench/dotfall_bench
fi

# The tests run twice: on the release build, and on a build with the address
# and undefined-behaviour sanitizers, where any report fails a test.
for preset in release sanitize; do
	cmake --preset $preset
	cmake --build --preset $preset -j "$(nproc)"
	ctest --preset $preset -j "$(nproc)"
done
