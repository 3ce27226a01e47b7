#!/usr/bin/env bash
# Main pages per second from the web administration beside nginx (one worker) serving the same
# bytes as a static file, both on 127.0.0.1, loaded in the same run by ab with connection close
# (best of three alternating rounds each); then the same for /status and /metrics of a board of
# 10,000 sites with a day of history, and their build time per request in-process.
# Needs: bench_web built (build dir as $1, default build/rel), nginx-light, apache2-utils, curl.
# Usage: bench/bench_web_nginx.sh [build-dir] [requests] [clients]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/rel}" && pwd)"
requests="${2:-20000}"
clients="${3:-16}"
for tool in nginx ab curl; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install nginx-light apache2-utils curl)"; exit 2; }
done
work="$(mktemp -d)"
. "$(dirname "$0")/nginx-peer.sh"

ours_port="$(free_port)"
mkdir -p "$work/ours" "$work/www"
printf '[System]\r\nVKTID=bench\r\n' >"$work/ours/vkt.ini"
(cd "$work/ours" && exec "$build/bench/bench_web" serve "$ours_port" 10000 >/dev/null) &
ours_pid=$!
for _ in $(seq 600); do curl -s -o /dev/null "http://127.0.0.1:$ours_port/" && break; sleep 0.1; done
curl -s "http://127.0.0.1:$ours_port/" | python3 -c 'import sys; d=sys.stdin.buffer.read(); sys.stdout.buffer.write(d.split(b"\r\n\r\n",1)[1])' \
    >"$work/www/index.html"
curl -s "http://127.0.0.1:$ours_port/status" >"$work/www/status"
curl -s "http://127.0.0.1:$ours_port/metrics" >"$work/www/metrics"

nginx_port="$(free_port)"
start_nginx "$nginx_port" "$work/www"
sleep 1

rate() { ab -q -n "$3" -c "$clients" "http://127.0.0.1:$1$2" 2>/dev/null | awk '/Requests per second/ {print $4}'; }
# Rounds alternate between the two servers and the best round of each counts, so that load from
# elsewhere on the machine does not favour whichever happened to run in a quiet moment.
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }
compare() { # PATH FILE REQUESTS
    local ngx=0 ours=0
    for _ in 1 2 3; do
        ngx="$(best "$ngx" "$(rate "$nginx_port" "$1" "$3")")"
        ours="$(best "$ours" "$(rate "$ours_port" "$1" "$3")")"
    done
    echo "$1: $(wc -c <"$work/www/$2") bytes, ab -n $3 -c $clients, connection close"
    echo "  nginx (1 worker, static file): $ngx requests/s"
    echo "  web administration:            $ours requests/s"
    awk -v a="$ours" -v b="$ngx" 'BEGIN { printf "  ratio: %.0f %% of nginx\n", 100 * a / b }'
}
compare / index.html "$requests"
compare /status status 200
compare /metrics metrics 200
"$build/bench/bench_web" status 10000
