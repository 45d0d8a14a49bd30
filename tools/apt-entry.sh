#!/bin/sh
# Prints the machine's first deb entry for a release's main suite (not
# -updates or -security), in either apt sources format: "URI SUITE [KEYRING]".
# The builds that fetch from Debian's archive with a private apt
# configuration (the Windows library, the arm64 system root) start from it.
set -u
entry=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '
	function flush() {
		if (types ~ /(^| )deb( |$)/ && uri != "" && suite !~ /-/) print uri, suite, keyring
		types = uri = suite = keyring = ""
	}
	/^#/ { next }
	/^[ \t]*$/ { flush(); next }
	tolower($1) == "types:" { types = $0; sub(/^[^:]*:/, "", types) }
	tolower($1) == "uris:" { uri = $2 }
	tolower($1) == "suites:" { suite = $2 }
	tolower($1) == "signed-by:" && $2 ~ /^\// { keyring = $2 }
	END { flush() }' | head -n 1)
if [ -z "$entry" ]; then
	entry=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk '
		$1 != "deb" { next }
		{ i = 2; keyring = "" }
		$2 ~ /^\[/ {
			for (; i <= NF; i++) {
				if ($i ~ /^\[?signed-by=/) { keyring = $i; sub(/^\[?signed-by=/, "", keyring); sub(/\]$/, "", keyring) }
				if ($i ~ /\]$/) break
			}
			i++
		}
		$(i + 1) !~ /-/ { print $i, $(i + 1), keyring }' | head -n 1)
fi
echo "$entry"
