#!/bin/sh
# Installs whichever of the Debian packages named are missing, with apt-get
# (through sudo when not root).
set -eu
missing=
for p in "$@"; do
	dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y $missing
