#!/usr/bin/env bash
# The emulator the Windows test suite runs its programs under: wine64, with
# one more try when a run printed nothing at all and failed.
#
# On a loaded machine Wine now and then fails to start a program (a CI run
# saw a test fail in 0.00 s with no output, and pass in hundreds of reruns).
# Every program of the suite prints before it can fail (a test program its
# "[ RUN ]" line, the tool its message), so a run that failed silently never
# got to our code. A program that fails again stays failed; a run that printed
# anything is never repeated. Output is kept in files until the run ends so
# that a repeated run's output is shown once; stdout and stderr stay apart.
set -uo pipefail
wine=/usr/lib/wine/wine64
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
for attempt in 1 2 3; do
  "$wine" "$@" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  if [ "$rc" -eq 0 ] || [ -s "$tmp/out" ] || [ -s "$tmp/err" ] || [ "$attempt" -eq 3 ]; then
    break
  fi
  echo "wine-run: $1 exited $rc without printing anything (attempt $attempt); starting it again" >&2
done
cat "$tmp/out"
cat "$tmp/err" >&2
exit "$rc"
