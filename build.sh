#!/bin/sh
# Sets up a Debian or Ubuntu machine for dotfall and builds it, then runs it
# on your display (./build.sh run), runs the test suite on private X servers
# (./build.sh test), measures its speed (./build.sh bench), cross-builds
# build-windows/dotfall.exe and its zip (./build.sh windows; the tests build
# it too and run it under Wine), or tests everything and writes the release's
# packages and their checksums into dist/ (./build.sh release).
set -eu
caller=$(pwd)
cd "$(dirname "$0")"
project=$(pwd)

case "${1:-}" in
run|test|bench|windows|release) ;;
*) echo "usage: $0 run|test|bench|windows|release" >&2; exit 2 ;;
esac

packages="cmake make"
# netpbm turns the icon images into data the program carries.
[ "$1" = windows ] || packages="$packages g++ pkg-config liballegro4-dev libxrandr-dev libxinerama-dev netpbm x11-utils"
case $1 in test|bench|release)
	packages="$packages libgtest-dev libbenchmark-dev libx11-dev libxtst-dev libxxf86vm-dev xvfb openbox" ;; esac
# The tests also need headless Wayland compositors, with what types keys into
# them (wtype; mutter's D-Bus API, through sd-bus) and takes their pictures
# (grim), and a real Xorg server (the dummy video driver) with desktops'
# window managers and xrandr to lay out its monitors.
case $1 in test|release)
	packages="$packages groff-base pandoc desktop-file-utils dpkg-dev file appstream lintian wine wine64 libxml2-utils
		sway wtype grim mutter xwayland dbus-daemon libsystemd-dev
		xserver-xorg-core xserver-xorg-video-dummy xfwm4 x11-xserver-utils" ;; esac
case $1 in test|windows|release)
	packages="$packages g++-mingw-w64-x86-64 mingw-w64-x86-64-dev patch icoutils" ;; esac
[ "$1" = release ] && packages="$packages git zip unzip"

tools/install-packages.sh $packages

# The library for Windows (fetched once, then kept in build-windows/allegro),
# dotfall.exe and build-windows/dotfall-<version>-win64.zip.
if [ "$1" != run ] && [ "$1" != bench ]; then
	windows/build-library.sh build-windows
	cmake --preset windows
	cmake --build --preset windows -j "$(nproc)"
	(cd build-windows && cpack)
	[ "$1" != windows ] || exit 0
fi

if [ "$1" = run ]; then
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build -j "$(nproc)"
	# dotfall reads dotfall.ini from the folder it starts in: the caller's.
	cd "$caller"
	exec "$project/build/dotfall"
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
[ "$1" = release ] || exit 0

# A release: every time stamp in the packages is the last commit's, unless
# SOURCE_DATE_EPOCH says otherwise, so a rebuild of the commit gives the
# same bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
	SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) ||
		{ echo "$0: no git history here: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
deb=dotfall_${version}_amd64.deb
zip=dotfall-$version-win64.zip
rm -rf dist
mkdir dist
(cd build && cpack -G DEB)
cp "build/$deb" dist/

# The Windows zip, built above, rewritten so that its bytes follow the commit.
tools/repack-zip.sh "build-windows/$zip" "dist/$zip"

(cd dist && sha256sum "$deb" "$zip" >SHA256SUMS)
cat dist/SHA256SUMS
