#!/bin/sh
# dotfall.exe as built (the first argument) for the project's version (the
# second): it imports only DLLs that come with Windows, and carries what
# Explorer and the loader read from the file: the icon, the version
# information and the manifest.
set -eu
exe=$1 version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Self-contained: no DLL that a bare Windows lacks.
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p' | tr A-Z a-z)
echo "$dlls"
echo "$dlls" | grep -qx kernel32.dll || fail "kernel32.dll is not among the imports"
others=$(echo "$dlls" | grep -vxE '(kernel32|user32|gdi32|comdlg32|ole32|msvcrt|ddraw|dinput|dsound|winmm)[.]dll') &&
	fail "imports DLLs that Windows lacks: $others"

wrestool -l "$exe" >"$work/list"
cat "$work/list"
count() { grep -c -- "$1" "$work/list" || true; }

# One icon group, under the name the library's window class loads, with the
# sizes Windows shows, each a picture icotool can read.
[ "$(count '--type=14 ')" = 1 ] || fail "not one icon group"
grep -q -- "--type=14 --name='ALLEGRO_ICON' " "$work/list" || fail "the icon group is not named ALLEGRO_ICON"
wrestool -x --type=14 --name=ALLEGRO_ICON -o "$work/icon.ico" "$exe"
sizes=$(icotool -l "$work/icon.ico" | sed -n 's/.* --width=\([0-9]*\) --height=\([0-9]*\) .*/\1x\2/p' | tr '\n' ' ')
[ "$sizes" = "16x16 32x32 48x48 256x256 " ] || fail "the icon's sizes are $sizes"

# The version information: the project's version, as text and as numbers.
x86_64-w64-mingw32-windres -i "$exe" -O rc >"$work/all.rc"
value() { sed -n "s/^ *VALUE \"$1\", \"\(.*\)\"\$/\1/p" "$work/all.rc"; }
[ "$(count '--type=16 ')" = 1 ] || fail "not one version resource"
for key in FileVersion ProductVersion; do
	[ "$(value $key)" = "$version" ] || fail "$key is '$(value $key)', not $version"
done
numbers="$(echo "$version" | sed 's/[.]/, /g'), 0"
for key in FILEVERSION PRODUCTVERSION; do
	grep -qx " $key $numbers" "$work/all.rc" || fail "$key is not $numbers"
done
[ "$(value ProductName)" = dotfall ] || fail "ProductName is '$(value ProductName)'"
[ "$(value OriginalFilename)" = dotfall.exe ] || fail "OriginalFilename is '$(value OriginalFilename)'"
value FileDescription | grep -q . || fail "no FileDescription"
value LegalCopyright | grep -q "MIT License" || fail "LegalCopyright names no licence: '$(value LegalCopyright)'"

# Exactly one manifest, id 1 (the loader reads no other), well-formed: DPI
# aware per monitor, every Windows from Vista to 11, no elevation.
[ "$(count '--type=24 ')" = 1 ] || fail "not one manifest"
grep -q -- "--type=24 --name=1 " "$work/list" || fail "the manifest's id is not 1"
wrestool -x --raw --type=24 --name=1 -o "$work/manifest.xml" "$exe"
xmllint --noout "$work/manifest.xml" || fail "the manifest is not well-formed XML"
xpath() { xmllint --xpath "$1" "$work/manifest.xml"; }
[ "$(xpath "string(//*[local-name()='dpiAware'])")" = true/pm ] || fail "dpiAware is not true/pm"
[ "$(xpath "string(//*[local-name()='dpiAwareness'])")" = "PerMonitorV2, PerMonitor" ] ||
	fail "dpiAwareness is not PerMonitorV2, PerMonitor"
[ "$(xpath "string(//*[local-name()='requestedExecutionLevel']/@level)")" = asInvoker ] ||
	fail "the execution level is not asInvoker"
ids=$(xpath "//*[local-name()='compatibility']/*[local-name()='application']/*[local-name()='supportedOS']/@Id" |
	sed 's/^ *Id="\(.*\)"$/\1/' | tr '\n' ' ')
# Vista, 7, 8, 8.1, and 10 and 11.
[ "$ids" = "{e2011457-1546-43c5-a5fe-008deee3d3f0} {35138b9a-5d96-4fbd-8e2d-a2440225f93a} \
{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {1f676c76-80e1-4239-95bb-83d0f6d0da78} \
{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a} " ] || fail "the supported Windows versions are $ids"

# The zip's read-me beside it names this version, with every placeholder
# filled in.
readme=$(dirname "$exe")/README.txt
head -1 "$readme" | grep -q "^dotfall $version for 64-bit Windows" || fail "README.txt's title lacks version $version"
! grep -n "@[A-Z_]*@" "$readme" || fail "README.txt has a placeholder left"
echo "icon $sizes, version $version, read-me, manifest per-monitor DPI aware for Vista to 11"
