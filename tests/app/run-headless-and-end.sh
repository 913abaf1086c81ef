#!/usr/bin/env bash
# run-headless-and-end.sh PELORIN: starts `PELORIN --headless`, passes on what it writes, sends it
# SIGTERM once it has opened its library database (the line it logs then; by then its handling of
# the signal is in place) and exits with its exit status. A run that never gets that far within
# two minutes, or that a signal ends, fails.
set -u
# The line is an informational one: written only with the verbose log.
export PELORIN_VERBOSE=1
coproc PELORIN { exec "$1" --headless 2>&1; }
pid=$PELORIN_PID
exec 3<&"${PELORIN[0]}"
deadline=$((SECONDS + 120))
ready=0
while [ "$SECONDS" -lt "$deadline" ] && IFS= read -r -t "$((deadline - SECONDS))" line <&3; do
  printf '%s\n' "$line"
  case $line in
    *"SCHEMA VERSION"*) ready=1; break ;;
  esac
done
if [ "$ready" -ne 1 ]; then
  kill -KILL "$pid" 2>/dev/null
  wait "$pid"
  echo "run-headless-and-end: pelorin did not open its database within two minutes" \
    "(it ended with status $?)" >&2
  exit 1
fi
kill -TERM "$pid"
cat <&3
wait "$pid"
status=$?
[ "$status" -eq 0 ] || echo "run-headless-and-end: pelorin ended with status $status after SIGTERM" >&2
exit "$status"
