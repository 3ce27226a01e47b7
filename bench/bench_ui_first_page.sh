#!/usr/bin/env bash
# The first page of SITES sites (100,000 by default) in the browser: starts `bench_web ui` on loopback
# and times the pages in headless Chromium. bench/bench_ui_first_page.sh BUILD_DIR [SITES]
set -euo pipefail
build="${1:?usage: bench_ui_first_page.sh BUILD_DIR [SITES]}"
sites="${2:-100000}"
root="$(cd "$(dirname "$0")/.." && pwd)"
npm="$root/build/npm"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
work=$(mktemp -d)
out="$work/out"
build="$(cd "$build" && pwd)"
# The server's log goes to its working directory: a scratch one.
(cd "$work" && exec "$build/bench/bench_web" ui "$sites" "$port" 0) >"$out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
until grep -q '^pages on' "$out"; do
    kill -0 $server 2>/dev/null || { cat "$out"; exit 1; }
    sleep 0.5
done
node "$root/bench/bench_ui_first_page.js" "$npm" "http://127.0.0.1:$port" bench 'bench pass'
