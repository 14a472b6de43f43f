#!/usr/bin/env bash
# Runs a Windows program under Wine: run-under-wine.sh WINE_PREFIX WINE PROGRAM [ARGUMENTS...]
# Headless and quiet, without the Mono and Gecko add-ons. Wine's server and services are started on their
# own first (no files inherited from the caller, output to /dev/null) and kept for 30 seconds after the last
# program, so that test programs run one after another neither start Wine anew (3 s each) nor leave a process
# that holds the caller's output open.
set -euo pipefail
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine="$2"
shift 2
unset DISPLAY WAYLAND_DISPLAY

server="$(dirname "$wine")/wineserver64"
[ -x "$server" ] || server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=wineserver

# Runs a command with /dev/null as its only open files.
detached() {
  (
    for fd in /proc/"$BASHPID"/fd/*; do
      fd=${fd##*/}
      if [ "$fd" -gt 2 ]; then eval "exec $fd>&-" 2> /dev/null || true; fi
    done
    exec "$@"
  ) < /dev/null > /dev/null 2>&1
}

# The server exits with 0 when it is new (1 before Wine has made the prefix, which the program below then
# does, 2 when one runs already); a new one gets its services right away.
if [ -d "$WINEPREFIX" ] && detached "$server" -p30; then
  detached "$wine" wineboot || true
fi
exec "$wine" "$@"
