#!/bin/sh
# Sets up a Debian or Ubuntu machine for dotfall and builds it, then either
# runs it on your display (./build.sh run) or runs the test suite on a
# private X server (./build.sh test).
set -eu
cd "$(dirname "$0")"

case "${1:-}" in
run|test) ;;
*) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

packages="g++ cmake make pkg-config liballegro4-dev x11-utils"
[ "$1" = test ] && packages="$packages libgtest-dev libx11-dev libxtst-dev xvfb"

missing=
for p in $packages; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
	sudo=
	[ "$(id -u)" -eq 0 ] || sudo=sudo
	$sudo apt-get update
	DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
fi

tests=OFF
[ "$1" = test ] && tests=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=$tests
cmake --build build -j "$(nproc)"

if [ "$1" = run ]; then
	exec build/dotfall
fi
ctest --test-dir build --output-on-failure -j "$(nproc)"
