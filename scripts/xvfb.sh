#!/usr/bin/env bash
# A private X display for the window tests under Wine.
#   xvfb.sh start FILE   starts Xvfb on a free display; FILE gets "number pid"
#   xvfb.sh stop FILE    ends the Xvfb that FILE names
set -euo pipefail
action=$1 file=$2
case $action in
  start)
    if [ -s "$file" ]; then "$0" stop "$file"; fi
    fifo=$(mktemp -u) && mkfifo "$fifo"
    # -displayfd picks a free display number and writes it once the server is ready.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    pid=$!
    read -r -t 30 number <"$fifo" || { kill "$pid" 2>/dev/null; rm -f "$fifo"; echo "Xvfb did not start" >&2; exit 1; }
    rm -f "$fifo"
    echo "$number $pid" >"$file"
    echo "Xvfb on :$number (pid $pid)"
    ;;
  stop)
    if [ -s "$file" ]; then
      read -r _ pid <"$file"
      kill "$pid" 2>/dev/null || true
      rm -f "$file"
    fi
    ;;
  *) echo "usage: $0 start|stop FILE" >&2; exit 2 ;;
esac
