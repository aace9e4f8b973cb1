# Sourced by the benchmarks: loopback ports and an unprivileged nginx from its own prefix.
# The sourcing script defines die().

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

wait_port() {
  for _ in $(seq 1 200); do
    if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$1),0.2)" 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  die "nothing listens on port $1"
}

# start_nginx WORK PORT [ACCESS_LOG]: serves WORK/www on 127.0.0.1:PORT (as nobody when
# run as root) and sets NGINX_PID once it listens. With ACCESS_LOG, every request is
# logged there as "<time> <uri> <status> <bytes sent> "<Range>"".
start_nginx() {
  local work=$1 port=$2 access_log=${3:-}
  local logging="access_log off;"
  if [ -n "$access_log" ]; then
    logging="log_format ranges '\$msec \$uri \$status \$body_bytes_sent \"\$http_range\"';
  access_log $access_log ranges;"
  fi
  mkdir -p "$work/logs" "$work/tmp"
  cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/logs/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 512; }
http {
  $logging
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  default_type application/octet-stream;
  client_body_temp_path $work/tmp/client;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server { listen 127.0.0.1:$port; root $work/www; }
}
CONF
  if [ "$(id -u)" -eq 0 ]; then
    chown -R nobody:nogroup "$work/logs" "$work/tmp"
    setpriv --reuid=nobody --regid=nogroup --clear-groups nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
  else
    nginx -p "$work" -c "$work/nginx.conf" -e "$work/logs/error.log" &
  fi
  NGINX_PID=$!
  wait_port "$port"
}
