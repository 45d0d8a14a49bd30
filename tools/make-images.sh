#!/bin/sh
# Draws the project's pictures with dotfall itself, under a private Xvfb, and
# saves its window: the README's screenshot (data/screenshot.png) and the
# application icon at 16, 32, 48, 128 and 256 pixels (data/icons/): all of
# them for the Linux menus, and all but 128 for dotfall.exe's icon, which the
# Windows build packs from them. Run it again whenever the picture changes.
# Needs a built dotfall (./build.sh run, or test).
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
dotfall="$top/build-run/dotfall"
[ -x "$dotfall" ] || dotfall="$top/build/dotfall"
[ -x "$dotfall" ] || { echo "build dotfall first: ./build.sh run" >&2; exit 1; }

tools/install-packages.sh xvfb imagemagick x11-utils xdotool

work=$(mktemp -d)
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

# snap OUT WIDTH HEIGHT [SETTINGS...]: a window of that size, drawn for a
# second, saved as OUT.
snap() {
	out=$1 w=$2 h=$3
	shift 3
	printf '[screen]\nfullscreen = 0\nscreenw = %s\nscreenh = %s\n' "$w" "$h" >"$work/dotfall.ini"
	for line in "$@"; do printf '%s\n' "$line" >>"$work/dotfall.ini"; done
	(cd "$work" && exec "$dotfall") &
	pid=$!
	sleep 1
	win=$(xdotool search --class allegro | head -n 1)
	import -window "$win" "$out"
	xdotool mousemove 1 1 key space
	wait $pid
	echo "saved $out"
}

mkdir -p data/icons
snap data/screenshot.png 640 480
# The 256 one goes into the Windows icon as it is: 8-bit RGBA, the kind of
# PNG every Windows that takes PNG icons reads.
for size in 16 32 48 128 256; do
	out=data/icons/dotfall-$size.png
	[ "$size" != 256 ] || out=PNG32:$out
	snap "$out" "$size" "$size" "[colors]" \
		"foreground_color_r = 63" "foreground_color_g = 44" "foreground_color_b = 8" \
		"background_color_r = 6" "background_color_g = 6" "background_color_b = 16"
done
