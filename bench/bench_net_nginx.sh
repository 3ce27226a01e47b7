#!/usr/bin/env bash
# Connections per second through the listener (one server thread per connection) beside nginx
# with one worker serving a small file, both on 127.0.0.1, loaded by ab with connection close.
# Needs: bench_net built (build dir as $1, default build/rel), nginx-light, apache2-utils.
# Usage: bench/bench_net_nginx.sh [build-dir] [requests] [clients]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build/rel}"
requests="${2:-50000}"
clients="${3:-16}"
for tool in nginx ab; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install nginx-light apache2-utils)"; exit 2; }
done
work="$(mktemp -d)"
nginx_pid="" ours_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

nginx_port="$(free_port)"
mkdir -p "$work/www"
printf 'ok' >"$work/www/index.html"
cat >"$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    client_body_temp_path $work;
    proxy_temp_path $work;
    fastcgi_temp_path $work;
    uwsgi_temp_path $work;
    scgi_temp_path $work;
    server { listen 127.0.0.1:$nginx_port; root $work/www; keepalive_timeout 0; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!

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
