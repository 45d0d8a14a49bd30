#!/bin/sh
# A distribution's build, as its packager makes it: plain CMake with the tests
# off, with Fedora's and with Arch's hardening flags (which set their own
# _FORTIFY_SOURCE), without a single warning; then an install to a prefix
# of its own, whose manual page must name that prefix's program and example.
# The argument is the source folder.
set -eu
src=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

fedora="-O2 -g -pipe -Wall -Werror=format-security -Wp,-U_FORTIFY_SOURCE,-D_FORTIFY_SOURCE=3 -Wp,-D_GLIBCXX_ASSERTIONS -fexceptions -fstack-protector-strong -fasynchronous-unwind-tables -fstack-clash-protection"
arch="-O2 -pipe -fno-plt -fexceptions -Wp,-D_FORTIFY_SOURCE=3 -Wformat -Werror=format-security -fstack-clash-protection -fno-omit-frame-pointer -Wp,-D_GLIBCXX_ASSERTIONS"
arch_ld="-Wl,-O1 -Wl,--sort-common -Wl,--as-needed -Wl,-z,relro -Wl,-z,now"
for flags in fedora arch; do
	build=$work/build-$flags
	eval cxxflags=\$$flags
	ldflags=
	[ $flags = fedora ] || ldflags=$arch_ld
	CXXFLAGS=$cxxflags LDFLAGS=$ldflags cmake -S "$src" -B "$build" -DBUILD_TESTING=OFF >"$build.log" 2>&1 ||
		{ cat "$build.log" >&2; fail "the configure with $flags's flags"; }
	cmake --build "$build" -j 2 >>"$build.log" 2>&1 || { cat "$build.log" >&2; fail "the build with $flags's flags"; }
	! grep -i "warning" "$build.log" >&2 || fail "the build with $flags's flags warns"
	grep -q -- "-D_FORTIFY_SOURCE=3" "$build/CMakeFiles/dotfall.dir/flags.make" ||
		fail "the build with $flags's flags lost their _FORTIFY_SOURCE"
done

# The install, with a hyphen in its prefix (a minus sign to troff).
prefix=$work/opt/dot-fall
cmake --install "$work/build-fedora" --prefix "$prefix" >"$work/install.log" 2>&1 ||
	{ cat "$work/install.log" >&2; fail "cmake --install --prefix $prefix"; }
example=$prefix/share/doc/dotfall/examples/dotfall.ini
[ -x "$prefix/bin/dotfall" ] && [ -f "$example" ] || fail "the program or the example is not under $prefix"
page=$(zcat "$prefix/share/man/man6/dotfall.6.gz" | groff -man -Tascii -P-cbou -rLL=300n -rHY=0 2>&1)
case $page in *"$example"*) ;; *) fail "the manual page does not name $example" ;; esac
case $page in *"cp $example ."*) ;; *) fail "the manual page's example does not copy $example" ;; esac
case $page in *"($prefix/bin)"*) ;; *) fail "the manual page does not name $prefix/bin" ;; esac
case $page in *"/usr/"*) fail "the manual page installed under $prefix names /usr: $(printf '%s\n' "$page" | grep /usr/)" ;; esac
echo "plain CMake builds with Fedora's and Arch's flags without a warning, and the manual follows the prefix: ok"
