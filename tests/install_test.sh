#!/bin/sh
# The installed layout, the manual page, the metadata and the Debian package,
# from a build folder (the first argument: the amd64 build, or the arm64 one
# of ./build.sh arm64), and that a second build gives the same package, byte
# for byte. The second argument, in a build that can run it, is the build's
# print_defaults, which prints the program's own defaults.
set -eu
build=$1
print_defaults=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dest=$work/root
# Any fixed time: the packages' file and archive times come from it alone.
export SOURCE_DATE_EPOCH=1796745600
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
# The tools this test runs, and their Debian packages.
for pair in pandoc:pandoc groff:groff-base appstreamcli:appstream desktop-file-validate:desktop-file-utils \
	lintian:lintian dpkg-deb:dpkg file:file cpack:cmake; do
	command -v "${pair%%:*}" >/dev/null || fail "no ${pair%%:*} to run: install ${pair#*:}"
done

DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
expected="usr/bin/dotfall
usr/share/applications/dotfall.desktop
usr/share/doc/dotfall/changelog.gz
usr/share/doc/dotfall/copyright
usr/share/doc/dotfall/examples/dotfall.ini
usr/share/icons/hicolor/128x128/apps/dotfall.png
usr/share/icons/hicolor/16x16/apps/dotfall.png
usr/share/icons/hicolor/256x256/apps/dotfall.png
usr/share/icons/hicolor/32x32/apps/dotfall.png
usr/share/icons/hicolor/48x48/apps/dotfall.png
usr/share/man/man6/dotfall.6.gz
usr/share/metainfo/invalid.dotfall.dotfall.metainfo.xml"
actual=$(cd "$dest" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$actual"
[ -x "$dest/usr/bin/dotfall" ] || fail "dotfall is not executable"

# The manual renders without a single warning from groff.
warnings=$(zcat "$dest/usr/share/man/man6/dotfall.6.gz" | groff -man -ww -z -Tutf8 2>&1)
[ -z "$warnings" ] || fail "the manual page: $warnings"
zcat "$dest/usr/share/man/man6/dotfall.6.gz" | groff -man -Tutf8 2>/dev/null | grep -q "foreground_color_r" ||
	fail "the manual page lacks the settings keys"

# The texts that repeat one another agree. The web copy of the manual is
# what tools/manual-md.sh makes of the page installed under /usr, version
# and date included.
src=$(cache CMAKE_HOME_DIRECTORY)
zcat "$dest/usr/share/man/man6/dotfall.6.gz" >"$work/dotfall.6"
sh "$src/tools/manual-md.sh" "$work/dotfall.6" >"$work/dotfall.md" || fail "tools/manual-md.sh failed"
diff -u "$src/docs/dotfall.md" "$work/dotfall.md" >&2 ||
	fail "docs/dotfall.md is not the manual page installed under /usr: tools/manual-md.sh build/dotfall.6 >docs/dotfall.md (a build for /usr, as the presets are)"
# Each README paragraph marked as the manual's words stands in the manual word
# for word.
flat() { tr '\n' ' ' | sed 's/[*`\\]//g; s/  */ /g'; }
manual=$(flat <"$src/docs/dotfall.md")
awk '/^<!-- the manual.s words -->$/ { q = 1; next } q && /^$/ { print ""; q = 0 } q { printf "%s ", $0 }' \
	"$src/README.md" >"$work/quoted"
[ -s "$work/quoted" ] || fail "README.md quotes nothing from the manual"
while IFS= read -r line; do
	line=$(printf '%s' "$line" | flat | sed 's/ $//')
	case $manual in *"$line"*) ;; *) fail "README.md's words are not the manual's: $line" ;; esac
done <"$work/quoted"
# The settings: every key the program reads, with its default, in the
# manual's SETTINGS, the README's table and the example file's comments
# alike.
awk '/ screen_keys\[\]/ { s = "screen" } / point_keys\[\]/ { s = "points" } / color_keys\[\]/ { s = "colors" }
	s && /^\t\{ "/ { split($0, f, "\""); print s, f[2] } /^};/ { s = "" }' \
	"$src/src/settings/settings.cpp" >"$work/keys"
[ "$(wc -l <"$work/keys")" -eq 15 ] || fail "the settings' keys in the source: $(cat "$work/keys")"
sed -n -e 's/^\.SS "\[\([a-z]*\)\]"$/[\1]/p' -e 's/^\.BR \([a-z0-9_]*\) " (default \(.*\))"$/\1 \2/p' \
	"$src/data/dotfall.6" | awk '/^\[/ { s = substr($0, 2, length($0) - 2); next } { print s, $0 }' >"$work/manual-settings"
awk -F' *[|] *' '$2 ~ /^(screen|points|colors)$/ { print $2, $3, $4 }' "$src/README.md" >"$work/readme-settings"
cut -d' ' -f1,2 "$work/manual-settings" | diff -u "$work/keys" - >&2 || fail "the manual's settings are not the program's"
diff -u "$work/manual-settings" "$work/readme-settings" >&2 || fail "the README's settings table is not the manual's"
awk '/^\[/ { s = substr($1, 2, length($1) - 2) } /^# [a-z0-9_]* = / { print s, $2, $4 }' "$src/data/dotfall.ini" |
	diff -u "$work/manual-settings" - >&2 || fail "data/dotfall.ini's defaults are not the manual's"
# And the manual's defaults are the program's own, the points worked out for
# the display print_defaults assumes (1000 by 600). A cross build has none to
# run: its sources are the same.
sed 's| W/2$| 500|; s| W$| 1000|; s| H$| 600|' "$work/manual-settings" >"$work/manual-values"
[ -z "$print_defaults" ] ||
	"$print_defaults" | diff -u "$work/manual-values" - >&2 || fail "the manual's defaults are not the program's"

# The manual page and the software-centre metadata carry the project's version.
version=$(cache CMAKE_PROJECT_VERSION)
zcat "$dest/usr/share/man/man6/dotfall.6.gz" | grep -q "^\.TH DOTFALL 6 [0-9-]* \"dotfall $version\"" ||
	fail "the manual page's title line lacks version $version"
metainfo="$dest/usr/share/metainfo/invalid.dotfall.dotfall.metainfo.xml"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"/>" "$metainfo" || fail "the metadata lacks release $version"
# The validator's one remark allowed: it does not know the id's domain, .invalid.
remarks=$(appstreamcli validate --no-net --pedantic "$metainfo" |
	grep '^[EWIP]:' | grep -v ': cid-maybe-not-rdns invalid\.dotfall\.dotfall$' || true)
[ -z "$remarks" ] || fail "appstreamcli validate: $remarks"

desktop-file-validate "$dest/usr/share/applications/dotfall.desktop" || fail "the desktop entry"
grep -qx "Exec=dotfall" "$dest/usr/share/applications/dotfall.desktop" || fail "the desktop entry's command"
# A menu's tooltip: one short line.
comment=$(sed -n 's/^Comment=//p' "$dest/usr/share/applications/dotfall.desktop")
[ -n "$comment" ] && [ ${#comment} -le 72 ] || fail "the desktop entry's Comment is not one short line: $comment"

# Each icon is a PNG of the size its folder says.
for size in 16 32 48 128 256; do
	png="$dest/usr/share/icons/hicolor/${size}x$size/apps/dotfall.png"
	file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "$png is no $size by $size PNG: $(file -b "$png")"
done

# The Debian package holds the same files and depends on the library.
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/dotfall_*.deb)
dpkg-deb -f "$deb" Depends | grep -q "liballegro4.4" || fail "the package does not depend on the library"
# Its description is the software centre's, word for word.
described=$(dpkg-deb -f "$deb" Description | sed 1d | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
centre=$(sed -n '/<description>/,/<\/description>/p' "$metainfo" | sed 's/<[^>]*>//g' | tr -s ' \n' '  ' | sed 's/^ //; s/ $//')
[ -n "$described" ] && [ "$described" = "$centre" ] || fail "the package's description is not the metadata's:
$described
$centre"
packed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
[ "$packed" = "$expected" ] || fail "packaged files differ:
$packed"
# lintian, pedantic and informational tags included, finds nothing.
tags=$(lintian --pedantic -I "$deb" 2>&1 | grep -v "^running with root privileges is not recommended!$" || true)
[ -z "$tags" ] || fail "lintian: $tags"
# Reproducible: a copy of the source, every file of it newer, built in another
# folder with the same compiler flags, gives a package of the same bytes.
# Only the release build is released; the sanitizers write the source's folder
# into the binary, which no prefix map changes.
if [ "$(cache CMAKE_BUILD_TYPE)" != Release ]; then
	echo "install layout, manual page, desktop entry, icons, metadata and package: ok (rebuild compared in the Release build only)"
	exit 0
fi
mkdir "$work/src"
tar -C "$(cache CMAKE_HOME_DIRECTORY)" --exclude=./build --exclude='./build-*' --exclude=./dist --exclude=./.git -cf - . |
	tar -C "$work/src" -xmf -
# A cross build (arm64) is rebuilt with its toolchain and system root.
set --
[ -z "$(cache CMAKE_TOOLCHAIN_FILE)" ] ||
	set -- -DCMAKE_TOOLCHAIN_FILE="$(cache CMAKE_TOOLCHAIN_FILE)" -DDOTFALL_SYSROOT="$(cache DOTFALL_SYSROOT)"
cmake -S "$work/src" -B "$work/build" "$@" -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" \
	-DCMAKE_CXX_FLAGS="$(cache CMAKE_CXX_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(cache CMAKE_EXE_LINKER_FLAGS)" >/dev/null
cmake --build "$work/build" >/dev/null
(cd "$work/build" && cpack -G DEB >/dev/null)
if ! cmp "$deb" "$work/build/$(basename "$deb")"; then
	dpkg-deb -R "$deb" "$work/first"
	dpkg-deb -R "$work/build/$(basename "$deb")" "$work/second"
	fail "two builds give different packages: $(diff -r "$work/first" "$work/second")"
fi
echo "install layout, manual page, desktop entry, icons, metadata, package and its rebuild: ok"
