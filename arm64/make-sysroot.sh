#!/bin/sh
# Makes the arm64 system root that dotfall is cross-built against, in
# BUILD/sysroot (usage: arm64/make-sysroot.sh BUILD): Debian's arm64 packages
# of the libraries the build links, with all they depend on, fetched through
# this machine's own apt sources with a private apt configuration and unpacked
# with dpkg -x. The machine's own packages and its dpkg database are left as
# they were: no foreign architecture is added to it. Beside the root,
# BUILD/sysroot-dpkg is a dpkg database of those packages alone, whose file
# lists name the files where they lie in the root, so that dpkg-shlibdeps
# finds the libraries' own shlibs and symbols files through it. A root already
# there from this same script is kept.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
root=$out/sysroot
admin=$out/sysroot-dpkg
packages="libc6-dev libstdc++6 liballegro4-dev libx11-dev libxrandr-dev libxinerama-dev libx11-xcb-dev libgtest-dev"

stamp=$(cat "$top/arm64/make-sysroot.sh" | sha256sum | cut -d' ' -f1)
if [ -f "$root/usr/include/allegro.h" ] && [ "$(cat "$out/sysroot.stamp" 2>/dev/null)" = "$stamp" ]; then
	exit 0
fi
rm -rf "$root" "$admin" "$out/sysroot.stamp"

# The machine's first deb entry for a release's main suite: "URI SUITE
# [KEYRING]".
entry=$("$top/tools/apt-entry.sh")
[ -n "$entry" ] || { echo "make-sysroot.sh: no deb entry in the apt sources" >&2; exit 1; }
set -- $entry
options="arch=arm64"
[ -n "${3:-}" ] && options="$options signed-by=$3"

# apt resolves the packages' dependencies against an empty package state of
# its own, for arm64 alone; it checks each download against the signed index.
apt=$out/sysroot-apt
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/state"
printf 'deb [%s] %s %s main\n' "$options" "$1" "$2" >"$apt/sources.list"
: >"$apt/state/status"
private_apt() {
	"$@" -o APT::Architecture=arm64 -o APT::Architectures::=arm64 \
		-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
		-o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null \
		-o Dir::State="$apt/state" -o Dir::State::Lists="$apt/lists" -o Dir::State::status="$apt/state/status" \
		-o Dir::Cache="$apt/cache" -o APT::Install-Recommends=false -o APT::Sandbox::User="$(id -un)"
}
private_apt apt-get -q update >/dev/null
private_apt apt-get -q -y --download-only install $packages >/dev/null

mkdir -p "$root" "$admin/info" "$admin/updates"
echo arm64 >"$admin/arch"
echo 1 >"$admin/info/format"
: >"$admin/status"
for deb in "$apt"/cache/archives/*_arm64.deb "$apt"/cache/archives/*_all.deb; do
	[ -f "$deb" ] || continue
	dpkg-deb -x "$deb" "$root"
	name=$(dpkg-deb -f "$deb" Package)
	# dpkg names a Multi-Arch: same package's files with its architecture.
	[ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && name=$name:$(dpkg-deb -f "$deb" Architecture)
	dpkg-deb -c "$deb" | awk -v root="$root" '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); print (p == "" ? "/." : root p) }' \
		>"$admin/info/$name.list"
	dpkg-deb --ctrl-tarfile "$deb" | tar -xf - -C "$admin/info" --transform "s|^\./|$name.|" \
		--wildcards './shlibs' './symbols' 2>/dev/null || true
	{ dpkg-deb -f "$deb"; echo "Status: install ok installed"; echo; } >>"$admin/status"
done

# The root's links to absolute paths (glibc's libm.so, for one) lead into
# the root instead of into this machine.
find "$root" -type l | while read -r link; do
	target=$(readlink "$link")
	case $target in /*) ln -sfnr "$root$target" "$link" ;; esac
done
echo "$stamp" >"$out/sysroot.stamp"
