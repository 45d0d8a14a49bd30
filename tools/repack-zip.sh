#!/bin/sh
# Rewrites a zip archive (the first argument) as a reproducible one (the
# second): the same files, in sorted order, all with the time
# SOURCE_DATE_EPOCH in UTC, the same permissions everywhere, and no owners or
# other extra fields. cpack's own zip takes the names in the order the disk
# lists them and the times in the local time zone, so two builds of the same
# source can differ.
set -eu
: "${SOURCE_DATE_EPOCH:?set SOURCE_DATE_EPOCH to the time the files are to carry}"
in=$(realpath "$1")
out=$(realpath -m "$2")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

unzip -q "$in" -d "$stage"
cd "$stage"
chmod -R u=rwX,go=rX .
find . -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
rm -f "$out"
find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -X -q -@ "$out"
