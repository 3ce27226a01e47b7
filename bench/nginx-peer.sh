# Sourced by the benchmarks that load our server beside nginx: a free loopback port, an nginx with
# one worker serving a directory as static files, and the clean-up of both servers and $work.
# The sourcing script sets $work (a scratch directory) and may set $ours_pid.
nginx_pid="" ours_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "$ours_pid" ] && kill "$ours_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

# start_nginx PORT ROOT: serves ROOT on 127.0.0.1:PORT with connection close; sets $nginx_pid.
start_nginx() {
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
    server { listen 127.0.0.1:$1; root $2; keepalive_timeout 0; }
}
CONF
    nginx -c "$work/nginx.conf" -p "$work" &
    nginx_pid=$!
}
