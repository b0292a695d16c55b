# Sourced by the scripts that serve a published web root with nginx on a free loopback port.
# start_nginx FOLDER WEB-ROOT [SERVER-RULES]: nginx keeps its configuration and logs in FOLDER and serves
# WEB-ROOT, with the rules added to its server block; it sets nginx_pid and server ("127.0.0.1:PORT").
# stop_nginx stops it again; calling it twice does no harm.
nginx_pid=
server=

write_nginx_config() {  # write_nginx_config FOLDER WEB-ROOT PORT [SERVER-RULES]
  local n=$1
  {
    # As root, the workers stay root: the web root may lie in a folder only root may enter.
    [ "$(id -u)" -ne 0 ] || echo "user root;"
    cat <<CONFIG
worker_processes 1;
pid $n/nginx.pid;
error_log $n/error.log;
events { worker_connections 64; }
http {
  access_log $n/access.log;
  client_body_temp_path $n/body; proxy_temp_path $n/proxy; fastcgi_temp_path $n/fastcgi;
  uwsgi_temp_path $n/uwsgi; scgi_temp_path $n/scgi;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$3;
    root $2;
    # The query request's catalogue is a static file, whatever the query string.
    location = /brellium/orvane.php { default_type text/xml; }
    ${4:-}
  }
}
CONFIG
  } >"$n/nginx.conf"
}

start_nginx() {  # a free loopback port may be taken before nginx binds it: then try another
  local n=$1 attempt port
  mkdir -p "$n"
  for attempt in 1 2 3 4 5; do
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    write_nginx_config "$n" "$2" "$port" "${3:-}"
    /usr/sbin/nginx -p "$n/" -e "$n/error.log" -c "$n/nginx.conf" -g 'daemon off;' </dev/null >>"$n/output.log" 2>&1 &
    nginx_pid=$!
    for _ in $(seq 50); do
      if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
        server="127.0.0.1:$port"
        return 0
      fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_nginx
  done
  echo "nginx did not start; see $n/error.log" >&2
  exit 1
}

stop_nginx() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=
  fi
}
