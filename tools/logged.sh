#!/bin/sh
# Runs a command with its output added to a log (usage: tools/logged.sh LOG
# COMMAND [ARG...]), for the build's long or noisy steps: nothing is shown
# unless it fails, and then the end of the log and where the whole of it is.
set -u
log=$1
shift
mkdir -p "$(dirname "$log")"
"$@" >>"$log" 2>&1 && exit 0
status=$?
tail -n 60 "$log" >&2
echo "failed: $* (status $status; the whole log: $log)" >&2
exit $status
