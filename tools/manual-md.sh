#!/bin/sh
# Writes the manual page as Markdown on standard output, for reading on the
# web: tools/manual-md.sh build/dotfall.6 > docs/dotfall.md, from the page as
# the build fills it in (its version and release date). The install test
# fails when docs/dotfall.md differs from what this gives.
set -eu
page=$1
title=$(sed -n 's/^\.TH DOTFALL 6 \([^ ]*\) "\(.*\)" ".*"$/\2, \1/p' "$page")
[ -n "$title" ] || { echo "$0: $page has no title line" >&2; exit 1; }
echo "<!-- Made from data/dotfall.6 by tools/manual-md.sh; edit that. -->"
echo
echo "# dotfall(6): $title"
echo
pandoc -f man -t gfm --columns=78 "$page" | sed "s/^\(#\{1,5\}\) /#\1 /"
