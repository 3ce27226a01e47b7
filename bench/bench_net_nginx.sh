#!/usr/bin/env bash
# Connections per second through the listener (one server thread per connection) beside nginx
# with one worker serving a small file, both on 127.0.0.1, loaded by ab with connection close.
# Needs: bench_net built (build dir as $1, default build/rel), nginx-light, apache2-utils.
# Usage: bench/bench_net_nginx.sh [build-dir] [requests] [clients]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/rel}"
requests="${2:-50000}"
clients="${3:-16}"
for tool in nginx ab; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install nginx-light apache2-utils)"; exit 2; }
done
work="$(mktemp -d)"
. "$(dirname "$0")/nginx-peer.sh"

nginx_port="$(free_port)"
mkdir -p "$work/www"
printf 'ok' >"$work/www/index.html"
start_nginx "$nginx_port" "$work/www"

ours_port="$(free_port)"
"$build/bench/bench_net" serve "$ours_port" >/dev/null &
ours_pid=$!
sleep 1

rate() { ab -q -n "$requests" -c "$clients" "http://127.0.0.1:$1/" 2>/dev/null | awk '/Requests per second/ {print $4}'; }
ngx="$(rate "$nginx_port")"
ours="$(rate "$ours_port")"
echo "nginx (1 worker):           $ngx requests/s"
echo "listener (thread per conn): $ours requests/s"
awk -v a="$ours" -v b="$ngx" 'BEGIN { printf "ratio: %.0f %% of nginx\n", 100 * a / b }'
