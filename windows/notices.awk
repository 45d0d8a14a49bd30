# Picks from the Debian copyright file of mingw-w64 what a program statically
# linked with the MinGW-w64 runtime must carry: the project's overall
# licence, the runtime's (mingw-w64-crt) notices, and the licence texts they
# name. Usage: awk -f notices.awk copyright copyright
BEGIN { RS = ""; ORS = "\n\n" }
FNR == NR {
	if ($1 == "Files:" && ($2 == "*" || $2 ~ /^mingw-w64-crt\//)) {
		print
		n = split($0, lines, "\n")
		for (i = 1; i <= n; i++)
			if (lines[i] ~ /^License: /) {
				names = substr(lines[i], 10)
				gsub(/ (and|or) /, "\n", names)
				m = split(names, each, "\n")
				for (j = 1; j <= m; j++)
					wanted[each[j]] = 1
			}
	}
	next
}
$1 == "License:" {
	split($0, lines, "\n")
	if (substr(lines[1], 10) in wanted)
		print
}
