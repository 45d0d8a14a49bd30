#!/bin/sh
# Sets up a Debian or Ubuntu machine for dotfall and builds it, then:
#   run      runs it on your display (built in build-run/)
#   package  makes its Debian package, build-run/dotfall_<version>_amd64.deb
#   unit     runs the unit tests alone (in build-unit/; no X server)
#   test     runs the test suite on private X servers and compositors (in
#            build/ and build-sanitize/; it cross-builds dotfall.exe first and
#            runs it under Wine too, and cross-builds it for arm64 and runs
#            that build's tests under qemu-user)
#   bench    measures its speed (in build/, as the tests build it)
#   windows  cross-builds build-windows/dotfall.exe and its zip
#   arm64    cross-builds dotfall for 64-bit ARM Linux and its Debian package,
#            build-arm64/dotfall_<version>_arm64.deb
#   release  tests everything and writes the release's packages and their
#            checksums into dist/
# Each command installs only the packages it needs (saying first how many
# and how big: for test, on a fresh Debian 12, about 630 packages, 565 MB to
# download and 2.6 GB on disk), and prints a line as each stage starts; a stage's output goes to a log in its build folder,
# shown when the stage fails (its warnings are shown anyway).
set -eu
caller=$(pwd)
cd "$(dirname "$0")"
project=$(pwd)

case "${1:-}" in
run|package|unit|test|bench|windows|arm64|release) command=$1 ;;
*) echo "usage: $0 run|package|unit|test|bench|windows|arm64|release" >&2; exit 2 ;;
esac

# Each package with the commands that need it, one a line. netpbm turns the
# icon images into data the program carries; the Xorg server (the dummy
# video driver), xfwm4 and xrandr are for the tests on a real X server.
# The arm64 build needs the cross compiler and qemu-user alone: its
# libraries come into its own system root, not onto this machine.
packages=
while read -r package commands; do
	case " $commands " in *" $command "*) packages="$packages $package" ;; esac
done <<EOF
cmake                   run package unit test bench windows arm64 release
make                    run package unit test bench windows arm64 release
g++                     run package unit test bench release
pkg-config              run package unit test bench arm64 release
liballegro4-dev         run package unit test bench release
libxrandr-dev           run package unit test bench release
libxinerama-dev         run package unit test bench release
libx11-xcb-dev          run package unit test bench release
netpbm                  run package unit test bench arm64 release
x11-utils               run test release
dpkg-dev                package test arm64 release
file                    package test arm64 release
libgtest-dev            unit test bench release
libbenchmark-dev        test bench release
libx11-dev              test bench release
libxtst-dev             test bench release
libxxf86vm-dev          test bench release
libsystemd-dev          test bench release
xvfb                    test bench release
xauth                   test bench release
xserver-xephyr          test bench release
tigervnc-standalone-server test bench release
openbox                 test bench release
xserver-xorg-core       test release
xserver-xorg-video-dummy test release
xfwm4                   test release
x11-xserver-utils       test release
sway                    test bench release
wtype                   test bench release
xwayland                test bench release
grim                    test release
mutter                  test release
dbus-daemon             test release
groff-base              test release
pandoc                  test release
desktop-file-utils      test release
appstream               test release
lintian                 test release
libxml2-utils           test release
wine                    test release
wine64                  test release
g++-mingw-w64-x86-64    test windows release
mingw-w64-x86-64-dev    test windows release
patch                   test windows release
icoutils                test windows release
g++-aarch64-linux-gnu   test arm64 release
qemu-user-static        test arm64 release
git                     release
zip                     release
unzip                   release
EOF

# Runs a stage: one line saying what it does, its output in `log` (the end
# of it shown if the stage fails), and any warning in it shown anyway.
stage() {
	echo "build.sh: $1"
	rm -f "$2"
	log=$2
	shift 2
	tools/logged.sh "$log" "$@" || exit 1
	! grep -i "warning" "$log" >&2 || echo "build.sh: (the warnings above are in $log)" >&2
}

echo "build.sh: the packages for $command"
tools/install-packages.sh $packages

# A build of a CMake preset, configured and built.
build() {
	stage "configuring $1 ($2/)" "$2/configure.log" cmake --preset "$1"
	stage "building $1 ($2/)" "$2/build.log" cmake --build --preset "$1" -j "$(nproc)"
}

# The library for Windows (fetched once, then kept in build-windows/allegro),
# dotfall.exe and build-windows/dotfall-<version>-win64.zip. The Windows
# build runs windows/build-library.sh again itself whenever a patch changes.
case $command in test|windows|release)
	echo "build.sh: the Allegro library for Windows (build-windows/allegro/; the first time it is fetched and takes minutes)"
	windows/build-library.sh build-windows
	build windows build-windows
	stage "the zip for Windows (build-windows/)" build-windows/cpack.log sh -c "cd build-windows && cpack"
	ls build-windows/dotfall-*-win64.zip
	[ "$command" != windows ] || exit 0 ;;
esac

# The arm64 system root (fetched once, then kept in build-arm64/sysroot/),
# dotfall for arm64 and build-arm64/dotfall_<version>_arm64.deb.
case $command in test|arm64|release)
	stage "the arm64 system root (build-arm64/sysroot/; the first time it is fetched)" build-arm64/sysroot.log \
		arm64/make-sysroot.sh build-arm64
	build arm64 build-arm64
	if [ "$command" = arm64 ]; then
		stage "the arm64 Debian package (build-arm64/)" build-arm64/cpack.log sh -c "cd build-arm64 && cpack -G DEB"
		ls build-arm64/dotfall_*_arm64.deb
		exit 0
	fi ;;
esac

case $command in run|package)
	build run build-run
	if [ "$command" = package ]; then
		stage "the Debian package (build-run/)" build-run/cpack.log sh -c "cd build-run && cpack -G DEB"
		ls build-run/dotfall_*_amd64.deb
		exit 0
	fi
	# dotfall reads dotfall.ini from the folder it starts in: the caller's.
	cd "$caller"
	exec "$project/build-run/dotfall" ;;
esac

if [ "$command" = unit ]; then
	build unit build-unit
	exec ctest --preset unit
fi

if [ "$command" = bench ]; then
	build release build
	exec build/bench/dotfall_bench
fi

# The tests run twice: on the release build, and on a build with the address
# and undefined-behaviour sanitizers, where any report fails a test.
for preset in release:build sanitize:build-sanitize; do
	build "${preset%:*}" "${preset#*:}"
	echo "build.sh: testing ${preset%:*} (${preset#*:}/)"
	ctest --preset "${preset%:*}" -j "$(nproc)"
done
echo "build.sh: testing arm64 under qemu-user (build-arm64/)"
ctest --preset arm64 -j "$(nproc)"
[ "$command" = release ] || exit 0

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
arm64_deb=dotfall_${version}_arm64.deb
zip=dotfall-$version-win64.zip
rm -rf dist
mkdir dist
stage "the Debian package (build/)" build/cpack.log sh -c "cd build && cpack -G DEB"
cp "build/$deb" dist/
stage "the arm64 Debian package (build-arm64/)" build-arm64/cpack.log sh -c "cd build-arm64 && cpack -G DEB"
cp "build-arm64/$arm64_deb" dist/

# The Windows zip, built above, rewritten so that its bytes follow the commit.
tools/repack-zip.sh "build-windows/$zip" "dist/$zip"

(cd dist && sha256sum "$deb" "$arm64_deb" "$zip" >SHA256SUMS)
cat dist/SHA256SUMS
