#!/usr/bin/env bash
# The release server for tests and development: nginx on the release profile's origin, with a
# throwaway certificate authority trusted by the system for as long as the server runs.
# Source it, then:
#   release_server_start   makes the CA and the server certificate (the CA key is deleted once
#                          the certificate is signed), adds the CA to the system trust store,
#                          starts nginx and waits until it answers; exports
#                          VORNA380_RELEASE_SERVER (the server's folder, see below)
#   release_server_stop    stops nginx by its PID, removes the CA from the trust store
# Run as a script: release-server.sh start|stop|status (start keeps nothing of the shell's
# state, so stop finds the server through its PID file).
#
# The server's folder (build/release-server, or VORNA380_RELEASE_SERVER_DIR):
#   www/              what https://HOST:PORT/ serves; tests put a published release here
#   fault/            fixed files for the misbehaving paths below
#   logs/access.log   one line per request: port, request line, status, bytes, user agent,
#                     time taken, "c" and the connection's serial number
#   tls/ca.crt        the CA certificate (for curl --cacert when the store is not wanted)
# Ports: the origin's PORT serves www/; PORT+1 the same tree with a certificate from a CA that
# nobody trusts; PORT+2 plain HTTP; PORT+3 an internal upstream for the cut bodies; PORT+4 the
# same tree with the trusted certificate: another origin a download may be sent to.
# The CDN tier: two caching edges, nginx processes of their own (edge-a/ and edge-b/ in the
# server's folder, each with its PID file, cache and access log), on PORT+5 and PORT+6 with the
# trusted certificate. Each forwards a miss to the origin over TLS, checking its certificate,
# and keeps every 200 for 10 minutes, in 1 MiB slices for range requests; a query makes a
# request of its own (the cache key is the whole URI). While the origin fails (no connection,
# 5xx), an edge answers from its cache. The access log's last field is the cache status (HIT,
# MISS, STALE...).
# Misbehaving paths on the origin:
#   /fault/status-404, /fault/status-500, /fault/status-206   that status, with a body
#   /fault/empty                 200 with an empty body
#   /fault/small.txt, /fault/exact-1mib.bin, /fault/over-1mib.bin   1 KiB, 1,048,576 and
#                                1,048,577 bytes
#   /fault/rate-limited/NAME     small.txt, but 503 for a request less than 3 s after the last
#                                one for the same NAME (a name of its own for each test run)
#   /fault/cut/NAME              fault/NAME cut off after 32 KiB: the connection closes early
#   /fault/cut-first/NAME        a range request from byte 0 cut off as /fault/cut/NAME; any
#                                other request gets fault/NAME whole (so a resumed range succeeds)
#   /fault/redirect, /fault/redirect-http   302 to /fault/small.txt on https, on plain http
#   /fault/redirect-other-origin 302 to /fault/small.txt on PORT+4
#   /slow/PATH                   www/PATH at 4 MiB/s
#   /trickle/PATH                www/PATH at 8 bytes/s: a transfer far below the minimum rate
#   /norange/PATH                www/PATH, always whole: range requests get the 200 answer
#   /dl/...                      500 for every path while www/server-error exists
#   /fault/range-earlier, /fault/range-short   206 with "Content-Range: bytes 0-15/1024" and 16
#                                bytes, whatever range was asked for: one that starts earlier
#                                than asked, or ends before
#   /fault/weak-etag/PATH        fault/PATH with the weak validator W/"weak"
# One release server runs per network namespace (the ports are fixed): starting waits (up to
# 30 minutes) for a lock that a running one holds. scripts/test.sh runs its tests in a network
# namespace of their own, so test runs of several work trees do not wait for each other. The
# trust store is the machine's: each server adds and removes its own CA file only.

RELEASE_SERVER_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
RELEASE_SERVER_LOCK=/tmp/vorna380-release-server.$(stat -L -c %i /proc/self/ns/net 2>/dev/null || echo host).lock
RELEASE_SERVER_TRUST_LOCK=/tmp/vorna380-trust-store.lock
RELEASE_SERVER_TRUST_DIR=/usr/local/share/ca-certificates
RELEASE_SERVER_CA_FILE=""
RELEASE_SERVER_PID=""
RELEASE_SERVER_LOCK_FD=""

_release_server_dir() { echo "${VORNA380_RELEASE_SERVER_DIR:-$RELEASE_SERVER_REPO/build/release-server}"; }

_release_server_sudo() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# host:port of the origin, from the release profile the builds use.
_release_server_origin() {
  local profile=${VORNA380_RELEASE_PROFILE:-$RELEASE_SERVER_REPO/release/dev.profile}
  sed -n 's/^origin_host=//p' "$profile" | head -n 1
}

# Runs update-ca-certificates, one run of it on the machine at a time.
_release_server_update_trust() {
  (
    flock -w 600 9 || exit 1
    _release_server_sudo update-ca-certificates >/dev/null 2>&1
  ) 9>>"$RELEASE_SERVER_TRUST_LOCK" || echo "release server: update-ca-certificates failed" >&2
}

# Takes this server's CA out of the trust store, and any test CA older than its two days of
# validity that a killed run left behind.
_release_server_untrust() {
  local changed=0 file
  if [ -n "$RELEASE_SERVER_CA_FILE" ] && [ -e "$RELEASE_SERVER_CA_FILE" ]; then
    _release_server_sudo rm -f "$RELEASE_SERVER_CA_FILE"
    changed=1
  fi
  RELEASE_SERVER_CA_FILE=""
  while IFS= read -r file; do
    _release_server_sudo rm -f "$file"
    changed=1
  done < <(find "$RELEASE_SERVER_TRUST_DIR" -maxdepth 1 -name 'vorna380-test-ca-*.crt' -mmin +2880 2>/dev/null)
  if [ "$changed" = 1 ]; then _release_server_update_trust; fi
}

# Makes the two throwaway CAs and the two server certificates for the DNS name localhost.
_release_server_certificates() {
  local tls=$1 name
  rm -rf "$tls"
  mkdir -p "$tls"
  for name in ca untrusted-ca; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 -keyout "$tls/$name.key" -out "$tls/$name.crt" \
      -subj "/CN=Vorna380 test $name $(date +%s)-$$" \
      -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null || return 1
  done
  for name in server untrusted; do
    local ca=ca
    [ "$name" = untrusted ] && ca=untrusted-ca
    openssl req -new -newkey rsa:2048 -nodes -keyout "$tls/$name.key" -out "$tls/$name.csr" \
      -subj "/CN=localhost" 2>/dev/null || return 1
    printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
      > "$tls/$name.ext"
    openssl x509 -req -in "$tls/$name.csr" -CA "$tls/$ca.crt" -CAkey "$tls/$ca.key" -CAcreateserial \
      -days 2 -sha256 -extfile "$tls/$name.ext" -out "$tls/$name.crt" 2>/dev/null || return 1
  done
  # Nothing can be signed with these CAs any more.
  rm -f "$tls/ca.key" "$tls/untrusted-ca.key" "$tls"/*.csr "$tls"/*.ext "$tls"/*.srl
}

_release_server_listen() {  # port [ssl]: localhost on IPv4 and, where the loopback has it, IPv6
  echo "    listen 127.0.0.1:$1 ${2:-};"
  if [ "$RELEASE_SERVER_IPV6" = 1 ]; then echo "    listen [::1]:$1 ${2:-};"; fi
}

_release_server_config() {  # dir host port
  local dir=$1 host=$2 port=$3 user=""
  [ "$(id -u)" -eq 0 ] && user="user root root;"
  RELEASE_SERVER_IPV6=0
  grep -q ' lo$' /proc/net/if_inet6 2>/dev/null && RELEASE_SERVER_IPV6=1
  cat <<EOF
# Written by tests/harness/release-server.sh for this run.
daemon off;
master_process on;
worker_processes 1;
$user
pid $dir/nginx.pid;
error_log $dir/logs/error.log warn;
events { worker_connections 128; }
http {
  types {
    application/zip zip;
    application/octet-stream sig exe dll bin swf meta k5o;
    text/plain txt sha256 manifest;
  }
  default_type application/octet-stream;
  log_format release '\$server_port "\$request" \$status \$body_bytes_sent "\$http_user_agent" \$request_time c\$connection';
  access_log $dir/logs/access.log release;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  sendfile on;
  keepalive_timeout 5;
  server_tokens off;
  limit_req_zone \$request_uri zone=rate_limited:1m rate=20r/m;

  server {
$(_release_server_listen "$port" ssl)
    server_name $host;
    ssl_certificate $dir/tls/server.crt;
    ssl_certificate_key $dir/tls/server.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $dir/www;
    location = /health { return 200 "ok\n"; }
    # A test makes every release path fail as a broken server would by serving www/server-error.
    location /dl/ {
      if (-f $dir/www/server-error) { return 500 "broken\n"; }
    }
    location /fault/ { root $dir; }
    location = /fault/status-404 { return 404 "not here\n"; }
    location = /fault/status-500 { return 500 "broken\n"; }
    location = /fault/status-206 { return 206 "partial content\n"; }
    location = /fault/empty { return 200 ""; }
    location ~ ^/fault/range-(earlier|short)\$ {
      add_header Content-Range "bytes 0-15/1024" always;
      add_header ETag '"fixed"' always;
      return 206 "0123456789abcdef";
    }
    location /fault/weak-etag/ {
      alias $dir/fault/;
      etag off;
      add_header ETag 'W/"weak"' always;
    }
    location /fault/rate-limited/ {
      limit_req zone=rate_limited;
      limit_req_status 503;
      root $dir;
      rewrite ^ /fault/small.txt break;
    }
    location /fault/cut/ {
      proxy_pass http://127.0.0.1:$((port + 3))/fault/;
      proxy_read_timeout 300ms;
    }
    location /fault/cut-first/ {
      if (\$http_range ~ "^bytes=0-") { rewrite ^/fault/cut-first/(.*)\$ /fault/cut/\$1 last; }
      rewrite ^/fault/cut-first/(.*)\$ /fault/\$1 last;
    }
    location = /fault/redirect { return 302 https://$host:$port/fault/small.txt; }
    location = /fault/redirect-http { return 302 http://$host:$((port + 2))/fault/small.txt; }
    location = /fault/redirect-other-origin { return 302 https://$host:$((port + 4))/fault/small.txt; }
    location /norange/ {
      alias $dir/www/;
      max_ranges 0;
    }
    location /slow/ {
      alias $dir/www/;
      limit_rate 4m;
    }
    location /trickle/ {
      alias $dir/www/;
      limit_rate 8;
    }
    # A fast network link (2 Gbit/s) rather than the loopback, for the benchmarks.
    location /link/ {
      alias $dir/www/;
      limit_rate 250m;
    }
  }

  server {
$(_release_server_listen $((port + 1)) ssl)
    server_name $host;
    ssl_certificate $dir/tls/untrusted.crt;
    ssl_certificate_key $dir/tls/untrusted.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $dir/www;
    location /fault/ { root $dir; }
  }

  server {
$(_release_server_listen $((port + 2)))
    server_name $host;
    root $dir/www;
    location /fault/ { root $dir; }
  }

  server {
$(_release_server_listen $((port + 4)) ssl)
    server_name $host;
    ssl_certificate $dir/tls/server.crt;
    ssl_certificate_key $dir/tls/server.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    root $dir/www;
    location /fault/ { root $dir; }
  }

  # Sends 32 KiB quickly, then a byte a second; the front's 300 ms read timeout cuts it off.
  server {
    listen 127.0.0.1:$((port + 3));
    root $dir;
    access_log off;
    limit_rate_after 32k;
    limit_rate 1;
  }
}
EOF
}

# One caching edge: the server's folder, its name, its port, the origin's port.
_release_server_edge_config() {
  local dir=$1 name=$2 port=$3 origin_port=$4 user=""
  [ "$(id -u)" -eq 0 ] && user="user root root;"
  cat <<EOF
# Written by tests/harness/release-server.sh for this run: the caching edge $name.
daemon off;
master_process on;
worker_processes 1;
$user
pid $dir/edge-$name/nginx.pid;
error_log $dir/edge-$name/error.log warn;
events { worker_connections 128; }
http {
  log_format edge '\$server_port "\$request" \$status \$body_bytes_sent \$request_time \$upstream_cache_status';
  access_log $dir/edge-$name/access.log edge;
  client_body_temp_path $dir/edge-$name/tmp/body;
  proxy_temp_path $dir/edge-$name/tmp/proxy;
  fastcgi_temp_path $dir/edge-$name/tmp/fastcgi;
  uwsgi_temp_path $dir/edge-$name/tmp/uwsgi;
  scgi_temp_path $dir/edge-$name/tmp/scgi;
  keepalive_timeout 5;
  server_tokens off;
  proxy_cache_path $dir/edge-$name/cache levels=1:2 keys_zone=edge_$name:8m max_size=8g inactive=1d use_temp_path=off;

  server {
$(_release_server_listen "$port" ssl)
    server_name localhost;
    ssl_certificate $dir/tls/server.crt;
    ssl_certificate_key $dir/tls/server.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    location = /health { return 200 "ok\n"; }
    location / {
      slice 1m;
      proxy_cache edge_$name;
      proxy_cache_key \$scheme\$proxy_host\$request_uri\$slice_range;
      proxy_set_header Range \$slice_range;
      proxy_cache_valid 200 206 10m;
      proxy_cache_use_stale error timeout http_500 http_502 http_503 http_504 updating;
      proxy_cache_lock on;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_pass https://localhost:$origin_port;
      proxy_ssl_server_name on;
      proxy_ssl_name localhost;
      proxy_ssl_verify on;
      proxy_ssl_trusted_certificate $dir/tls/ca.crt;
      proxy_connect_timeout 5s;
      add_header X-Cache-Status \$upstream_cache_status always;
    }
  }
}
EOF
}

# Starts the two edges (after the origin, whose certificates they use), each by its PID.
_release_server_start_edges() {
  local dir=$1 edge_port=$(($2 + 5)) name i
  for name in a b; do
    rm -rf "$dir/edge-$name"
    mkdir -p "$dir/edge-$name/tmp" "$dir/edge-$name/cache"
    _release_server_edge_config "$dir" "$name" "$edge_port" "$2" > "$dir/edge-$name/nginx.conf"
    if [ "${RELEASE_SERVER_LOCK_WITH_NGINX:-0}" = 1 ]; then
      nginx -p "$dir/edge-$name" -c "$dir/edge-$name/nginx.conf" -e "$dir/edge-$name/error.log" </dev/null &
    else
      nginx -p "$dir/edge-$name" -c "$dir/edge-$name/nginx.conf" -e "$dir/edge-$name/error.log" \
        {RELEASE_SERVER_LOCK_FD}>&- </dev/null &
    fi
    echo $! > "$dir/edge-$name/server.pid"
    for ((i = 0; i < 100; i++)); do
      curl -s -o /dev/null --max-time 2 "https://localhost:$edge_port/health" 2>/dev/null && break
      sleep 0.1
    done
    edge_port=$((edge_port + 1))
  done
}

# Stops the process whose PID a file holds (or the PID given second), QUIT first, then KILL
# after 5 s, and removes the file.
_release_server_stop_pid() {
  local file=$1 pid=${2:-} i
  [ -z "$pid" ] && [ -f "$file" ] && pid=$(cat "$file")
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -QUIT "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
    wait "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}

release_server_start() {
  local dir origin host port i
  dir=$(_release_server_dir)
  origin=$(_release_server_origin)
  host=${origin%%:*}
  port=${origin##*:}
  [ "$port" = "$origin" ] && port=443
  if [ "$host" != localhost ]; then
    echo "release server: the profile's origin host is '$host'; the test server only serves localhost" >&2
    return 1
  fi
  if [ -n "$RELEASE_SERVER_PID" ]; then
    echo "release server: already running (PID $RELEASE_SERVER_PID)" >&2
    return 1
  fi

  exec {RELEASE_SERVER_LOCK_FD}>>"$RELEASE_SERVER_LOCK"
  if ! flock -n "$RELEASE_SERVER_LOCK_FD"; then
    echo "release server: another run's server is up; waiting for it to stop"
    if ! flock -w 1800 "$RELEASE_SERVER_LOCK_FD"; then
      echo "release server: gave up waiting for $RELEASE_SERVER_LOCK" >&2
      exec {RELEASE_SERVER_LOCK_FD}>&-
      RELEASE_SERVER_LOCK_FD=""
      return 1
    fi
  fi
  rm -rf "$dir"
  mkdir -p "$dir"/{www/dl,fault,logs,tmp}
  chmod 755 "$dir" "$dir"/www "$dir"/www/dl "$dir"/fault
  head -c 1024 /dev/zero | tr '\0' 's' > "$dir/fault/small.txt"
  head -c 1048576 /dev/urandom > "$dir/fault/exact-1mib.bin"
  { cat "$dir/fault/exact-1mib.bin"; printf 'x'; } > "$dir/fault/over-1mib.bin"
  if ! _release_server_certificates "$dir/tls"; then
    echo "release server: could not make the certificates" >&2
    release_server_stop
    return 1
  fi
  _release_server_config "$dir" "$host" "$port" > "$dir/nginx.conf"

  RELEASE_SERVER_CA_FILE=$RELEASE_SERVER_TRUST_DIR/vorna380-test-ca-$(date +%s)-$$-$RANDOM.crt
  _release_server_sudo install -m 644 "$dir/tls/ca.crt" "$RELEASE_SERVER_CA_FILE"
  echo "$RELEASE_SERVER_CA_FILE" > "$dir/trusted-ca"
  _release_server_update_trust

  # The lock stays with this shell, or with nginx when the starting script ends at once.
  if [ "${RELEASE_SERVER_LOCK_WITH_NGINX:-0}" = 1 ]; then
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" </dev/null &
  else
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" {RELEASE_SERVER_LOCK_FD}>&- </dev/null &
  fi
  RELEASE_SERVER_PID=$!
  echo "$RELEASE_SERVER_PID" > "$dir/server.pid"
  for ((i = 0; i < 100; i++)); do
    if curl -s -o /dev/null --max-time 2 "https://$host:$port/health" 2>/dev/null; then
      _release_server_start_edges "$dir" "$port"
      export VORNA380_RELEASE_SERVER=$dir
      echo "release server: nginx PID $RELEASE_SERVER_PID on https://$host:$port/ serving $dir/www"
      return 0
    fi
    kill -0 "$RELEASE_SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "release server: nginx did not come up; its log:" >&2
  cat "$dir/logs/error.log" >&2 2>/dev/null
  release_server_stop
  return 1
}

release_server_stop() {
  local dir
  dir=$(_release_server_dir)
  _release_server_stop_pid "$dir/server.pid" "$RELEASE_SERVER_PID"
  _release_server_stop_pid "$dir/edge-a/server.pid"
  _release_server_stop_pid "$dir/edge-b/server.pid"
  if [ -z "$RELEASE_SERVER_CA_FILE" ] && [ -f "$dir/trusted-ca" ]; then RELEASE_SERVER_CA_FILE=$(cat "$dir/trusted-ca"); fi
  rm -f "$dir/trusted-ca"
  RELEASE_SERVER_PID=""
  unset VORNA380_RELEASE_SERVER
  _release_server_untrust
  if [ -n "$RELEASE_SERVER_LOCK_FD" ]; then
    exec {RELEASE_SERVER_LOCK_FD}>&-
    RELEASE_SERVER_LOCK_FD=""
  fi
  return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    start)
      RELEASE_SERVER_LOCK_WITH_NGINX=1
      release_server_start || exit 1
      echo "stop it with: bash tests/harness/release-server.sh stop; tests find it with:"
      echo "  export VORNA380_RELEASE_SERVER=$VORNA380_RELEASE_SERVER" ;;
    stop) release_server_stop ;;
    status)
      dir=$(_release_server_dir)
      if [ -f "$dir/server.pid" ] && kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then
        echo "running, PID $(cat "$dir/server.pid"), folder $dir"
      else
        echo "not running"; exit 1
      fi ;;
    *) echo "usage: release-server.sh start|stop|status (or source it)" >&2; exit 2 ;;
  esac
fi
