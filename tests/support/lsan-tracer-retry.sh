#!/usr/bin/env bash
# Runs a sanitized test once more, and only then, when LeakSanitizer's own stop-the-world
# tracer crashed at the exit of a run whose cases all passed ("Tracer caught signal 11"):
# a known fault of the sanitizer runtime under load, not a leak and not a test failure.
# Any other failure, and a second such crash, stands.
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] && grep -q '^Tracer caught signal' "$log" \
   && grep -q 'LeakSanitizer has encountered a fatal error' "$log" \
   && grep -Eq '^Totals: [0-9]+ passed, 0 failed' "$log" && ! grep -q '^FAIL!' "$log"; then
  echo "lsan-tracer-retry: LeakSanitizer's tracer crashed after every case passed; running the test once more"
  "$@"
  status=$?
fi
exit "$status"
