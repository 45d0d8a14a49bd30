#!/bin/sh
# Installs whichever of the Debian packages named are missing, with apt-get
# (through sudo when not root), saying first how much that is.
set -eu
missing=
for p in "$@"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
# apt-get's own count and sizes, of these and all they depend on; it stops
# there (--assume-no), and installs below.
echo "install-packages.sh: missing:$missing"
LC_ALL=C $sudo apt-get install --assume-no $missing 2>/dev/null |
	sed -n 's/^\([0-9]* upgraded, [0-9]* newly installed\).*/install-packages.sh: \1/p
		s/^Need to get \(.*\) of archives\.$/install-packages.sh: \1 to download/p
		s/^After this operation, \(.*\) of additional disk space will be used\.$/install-packages.sh: \1 more on disk/p' || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
