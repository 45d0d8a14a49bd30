#!/bin/sh
# Builds the Allegro 4 library as a static library for 64-bit Windows into
# BUILD/allegro/prefix (usage: windows/build-library.sh BUILD). Its source is
# Debian's source package, fetched through this machine's own apt sources
# with a private apt configuration (the system's is left as it was), checked
# against the checksums of its .dsc, and patched with windows/patches/*.patch
# in name order (patch -p1 from the source's top folder). A build already
# there for the same patches is kept. The build's output goes to
# BUILD/allegro/build.log, whose end is shown if it fails.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1/allegro"
out=$(cd "$1/allegro" && pwd)
package=allegro4.4 orig=allegro4.4_4.4.3.1.orig.tar.gz

stamp=$(cat "$top"/windows/patches/*.patch "$top/windows/toolchain-mingw64.cmake" "$top/windows/build-library.sh" |
	sha256sum | cut -d' ' -f1)
if [ -f "$out/prefix/lib/liballeg.a" ] && [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ]; then
	exit 0
fi
rm -rf "$out/prefix" "$out/stamp"
log=$out/build.log
: >"$log"
logged() { "$top/tools/logged.sh" "$log" "$@" || exit 1; }

# The machine's first deb entry for a release's main suite: "URI SUITE
# [KEYRING]".
entry=$("$top/tools/apt-entry.sh")
[ -n "$entry" ] || { echo "build-library.sh: no deb entry in the apt sources" >&2; exit 1; }
set -- $entry
options=
[ -n "${3:-}" ] && options="[signed-by=$3] "

apt="$out/apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$out/download"
printf 'deb-src %s%s %s main\n' "$options" "$1" "$2" >"$apt/sources.list"
private_apt() {
	"$@" -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
		-o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Dir::State::status=/dev/null \
		-o APT::Sandbox::User="$(id -un)"
}

# The .dsc is checked by apt against the signed index; the tarball against
# the .dsc. (The Debian packaging itself is not needed.)
cd "$out/download"
if ! [ -f "$orig" ]; then
	private_apt apt-get -q update >/dev/null
	private_apt apt-get -q source --print-uris "$package" >uris
	dsc=$(awk -F"'" '$2 ~ /\.dsc$/ { print $2 }' uris)
	[ -n "$dsc" ] || { echo "build-library.sh: $package not in $1 $2" >&2; exit 1; }
	for file in "$(basename "$dsc")" "$orig"; do
		line=$(grep " $file " uris) || { echo "build-library.sh: $file not in $1 $2" >&2; exit 1; }
		set -- $line
		private_apt /usr/lib/apt/apt-helper download-file "$(echo "$1" | tr -d "'")" "$file.part" "$4" >/dev/null
		mv "$file.part" "$file"
	done
	mv "$(basename "$dsc")" source.dsc
fi
want=$(awk -v f="$orig" '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && $3 == f { print $1 }' source.dsc)
[ -n "$want" ] && echo "$want  $orig" | sha256sum -c --quiet - ||
	{ echo "build-library.sh: $orig does not match its .dsc" >&2; rm -f "$orig"; exit 1; }

# Unpacked afresh for each build, without the library's examples and demos.
rm -rf "$out/src" "$out/build"
mkdir "$out/src"
tar -xzf "$orig" -C "$out/src" --strip-components=1 --exclude='*/examples' --exclude='*/demos'
cd "$out/src"
for p in "$top"/windows/patches/*.patch; do
	[ -f "$p" ] || continue
	logged patch -p1 --no-backup-if-mismatch -i "$p"
done

logged cmake -Wno-dev -Wno-deprecated -S "$out/src" -B "$out/build" -DCMAKE_TOOLCHAIN_FILE="$top/windows/toolchain-mingw64.cmake" \
	-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$out/prefix" -DSHARED=OFF \
	-DWANT_EXAMPLES=OFF -DWANT_TESTS=OFF -DWANT_TOOLS=OFF -DWANT_DOCS=OFF -DWANT_ALLEGROGL=OFF \
	-DWANT_LOADPNG=OFF -DWANT_LOGG=OFF -DWANT_JPGALLEG=OFF \
	-DCMAKE_C_FLAGS="-w -ffile-prefix-map=$out/src=allegro"
logged cmake --build "$out/build" -j "$(nproc)"
logged cmake --install "$out/build"
mkdir -p "$out/prefix/share/doc"
cp "$out/src/docs/txt/license.txt" "$out/prefix/share/doc/allegro-license.txt"
echo "$stamp" >"$out/stamp"
