#!/bin/sh
# Runs a Windows program under Wine: run-under-wine.sh WINE_PREFIX WINE PROGRAM [ARGUMENTS...]
# Headless and quiet, without the Mono and Gecko add-ons. The Wine server is kept for 30 seconds after its
# last program, so that test programs run one after another do not each start Wine anew.
set -e
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine="$2"
shift 2
unset DISPLAY WAYLAND_DISPLAY
for server in "$(dirname "$wine")/wineserver64" "$(dirname "$wine")/wineserver" wineserver; do
  if command -v "$server" > /dev/null 2>&1; then
    # Starts the server unless one runs already; before the prefix exists, Wine creates both below.
    [ -d "$WINEPREFIX" ] && "$server" -p30 < /dev/null > /dev/null 2>&1 || true
    break
  fi
done
exec "$wine" "$@"
