#!/bin/sh
# The same seed and number of steps draw the same figure, pixel for pixel,
# on this machine and under an emulator (usage: same_figure.sh FIGURE
# COMMAND...: FIGURE is tests/figure built here, COMMAND runs the other
# build's, e.g. qemu-aarch64-static -L ROOT build-arm64/tests/figure).
set -eu
native=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for run in "12345 200000" "1 1000" "4000000000 50000"; do
	"$native" $run >"$work/here.pgm" || fail "figure $run here"
	"$@" $run >"$work/there.pgm" || fail "figure $run: $*"
	[ "$(head -c 15 "$work/here.pgm")" = "$(printf 'P5\n640 480\n1\n')" ] || fail "figure $run: no 640x480 picture"
	lit=$(tail -c +16 "$work/here.pgm" | tr -d '\000' | wc -c)
	[ "$lit" -gt 0 ] || fail "figure $run: nothing drawn"
	cmp "$work/here.pgm" "$work/there.pgm" || fail "figure $run: the pictures differ"
	echo "seed and steps $run: the same $lit lit pixels"
done
