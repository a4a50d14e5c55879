#!/usr/bin/env bash
# Runs a Windows program under Wine, on the private X display when one runs
# (SUNDRY_DISPLAY_FILE names the file that scripts/xvfb.sh wrote).
set -euo pipefail
wine=${SUNDRY_WINE:?}
if [ -n "${SUNDRY_DISPLAY_FILE:-}" ] && [ -s "$SUNDRY_DISPLAY_FILE" ]; then
  read -r number _ <"$SUNDRY_DISPLAY_FILE"
  export DISPLAY=":$number"
else
  unset DISPLAY
fi
exec "$wine" "$@"
