#!/bin/bash
# feed-server.sh start|stop STATE_DIR
#
# A private nginx on a free loopback port serving STATE_DIR/www, for the
# download tests, plus the fault upstream (fault_upstream.py) behind it.
# Everything it writes stays in STATE_DIR, so it runs as root or not
# without touching /var or the system's nginx.
#
# URL contract, relative to the base URL in STATE_DIR/url (no trailing
# slash); <rest> is a path under STATE_DIR/www:
#   /<rest>                 the file
#   /status/404/<rest>      404
#   /status/500/<rest>      500
#   /status/503/<rest>      503 with Retry-After: 1
#   /loop/<rest>            302 to itself, forever
#   /redirect/<rest>        302 to /<rest>
#   /norange/<rest>         the file, whole (200) whatever range is asked
#   /slow/<rest>            the file at 64 KB/s
#   /cut/<rest>             a chunk (a path holding /chunks/) cut at half its
#                           body, with the true Content-Length
#   /shortlength/<rest>     a chunk with half its length and half its bytes
#   /wrongbytes/<rest>      a chunk with its middle byte flipped
#   /stallbody/<rest>       a chunk with half its body, then a minute's silence
#   /drip/<rest>            a chunk a byte every half second
#   /stallheaders/<rest>    a chunk: a minute's silence before its headers
#   /stallall/<rest>        the same for every file
# All but /stallall/ serve any other file whole. Ranges are honoured throughout.
# Over HTTPS, STATE_DIR/www as it is, at the base URLs in
#   STATE_DIR/url-https             a certificate for 127.0.0.1 from the test
#                                   authority, STATE_DIR/tls/authority.der,
#                                   which a test trusts in its Wine prefix
#   STATE_DIR/url-https-wrong-name  one from that authority for another name
#   STATE_DIR/url-https-untrusted   one for 127.0.0.1 from an authority
#                                   nobody trusts
# STATE_DIR/access.log has one line a request:
#   $status "$request" range="$http_range" sent=$body_bytes_sent
set -eu

here=$(cd "$(dirname "$0")" && pwd)
nginx=${FEED_SERVER_NGINX:-/usr/sbin/nginx}
# nginx takes NGINX for listening sockets handed over by an old master, and
# then stays in the foreground.
unset NGINX

usage() {
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
}

# alive PID WORD: PID runs and its command line holds WORD (a pid file
# left by a run that is gone may name a process that is not ours).
alive() {
  [ -n "$1" ] && [ -r "/proc/$1/cmdline" ] && tr '\0' ' ' < "/proc/$1/cmdline" | grep -qF -- "$2"
}

# children PID: the processes whose parent is PID (procps is not in a
# minimal Debian, the 32-bit VM's).
children() {
  local f stat ppid
  for f in /proc/[0-9]*/stat; do
    stat=$(cat "$f" 2>/dev/null) || continue
    # the fields after the command name, which may hold spaces: state ppid ...
    read -r _ ppid _ <<< "${stat##*) }"
    [ "$ppid" != "$1" ] || echo "${f//[^0-9]/}"
  done
}

# end PID WORD: TERM, then KILL if it lingers. Quiet if already gone.
end() {
  local pid=$1 word=$2 i child
  alive "$pid" "$word" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 50); do
    alive "$pid" "$word" || return 0
    sleep 0.1
  done
  # A master killed outright leaves its worker behind, holding the port.
  for child in $(children "$pid"); do kill -KILL "$child" 2>/dev/null || true; done
  kill -KILL "$pid" 2>/dev/null || true
}

stop() {
  local pid
  pid=$(cat "$state/nginx.pid" 2>/dev/null || true)
  # The master ends its worker on TERM before it exits itself.
  end "$pid" "$state/nginx.conf"
  pid=$(cat "$state/upstream.pid" 2>/dev/null || true)
  end "$pid" fault_upstream.py
  rm -f "$state/nginx.pid" "$state/upstream.pid" "$state/upstream.port" "$state/url" "$state"/url-https*
}

# issue NAME AUTHORITY SUBJECT_ALT_NAME: a server certificate, valid for a
# month.
issue() {
  local tls=$state/tls
  openssl req -new -key "$tls/key.pem" -subj "/CN=feed test $1" -out "$tls/$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n' \
    "$3" > "$tls/$1.ext"
  openssl x509 -req -in "$tls/$1.csr" -CA "$tls/$2.pem" -CAkey "$tls/key.pem" -CAcreateserial -days 30 \
    -extfile "$tls/$1.ext" -out "$tls/$1.pem" 2>/dev/null
}

# Two authorities, the test's and a stranger's, and a certificate for each
# HTTPS server; made afresh at every start. One key serves them all: a
# certificate is trusted by the names of its chain, and a key costs seconds
# in the emulated VM.
make_certificates() {
  local tls=$state/tls authority
  rm -rf "$tls"
  mkdir -p "$tls"
  openssl genrsa -out "$tls/key.pem" 2048 2>/dev/null
  for authority in authority stranger; do
    openssl req -x509 -new -key "$tls/key.pem" -days 30 -subj "/CN=feed test $authority" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
      -out "$tls/$authority.pem" 2>/dev/null
  done
  openssl x509 -in "$tls/authority.pem" -outform DER -out "$tls/authority.der"
  # The address as a DNS name too: Wine 8 matches a server's name only
  # against those.
  issue trusted authority DNS:127.0.0.1,IP:127.0.0.1
  issue wrong-name authority DNS:feed.invalid
  issue untrusted stranger DNS:127.0.0.1,IP:127.0.0.1
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# answers URL: nginx takes a request and answers it (any status).
answers() {
  python3 - "$1" <<'EOF'
import sys, urllib.request, urllib.error
try:
    urllib.request.urlopen(sys.argv[1], timeout=2).close()
except urllib.error.HTTPError:
    pass
except Exception:
    sys.exit(1)
EOF
}

write_config() {
  local port=$1 upstream_port=$2 https_ports=$3 user="" name
  # Workers drop to "nobody" under a root master and could not read www.
  [ "$(id -u)" -ne 0 ] || user="user root;"
  cat > "$state/nginx.conf" <<EOF
# Written by feed-server.sh; rewritten at every start.
daemon on;
master_process on;
worker_processes 1;
$user
pid "$state/nginx.pid";
error_log "$state/error.log" info;

events {
  worker_connections 256;
}

http {
  client_body_temp_path "$state/temp/client_body";
  proxy_temp_path "$state/temp/proxy";
  fastcgi_temp_path "$state/temp/fastcgi";
  uwsgi_temp_path "$state/temp/uwsgi";
  scgi_temp_path "$state/temp/scgi";

  log_format feed '\$status "\$request" range="\$http_range" sent=\$body_bytes_sent';
  access_log "$state/access.log" feed;

  default_type application/octet-stream;
  sendfile on;
  gzip off;
  keepalive_timeout 65s;
  server_tokens off;

  server {
    listen 127.0.0.1:$port;
    server_name 127.0.0.1;
    root "$state/www";

    location / {
    }
    location /status/404/ {
      return 404;
    }
    location /status/500/ {
      return 500;
    }
    location /status/503/ {
      add_header Retry-After 1 always;
      return 503;
    }
    location /loop/ {
      return 302 \$request_uri;
    }
    location /redirect/ {
      rewrite ^/redirect(/.*)\$ \$1 redirect;
    }
    location /norange/ {
      alias "$state/www/";
      max_ranges 0;
    }
    location /slow/ {
      alias "$state/www/";
      limit_rate 64k;
      limit_rate_after 0;
    }
    # The upstream reads the fault from the prefix, passed on as it came.
    # Unbuffered, so what the upstream does reaches the client as it does it.
    location ~ ^/(cut|shortlength|wrongbytes|stallbody|drip|stallheaders|stallall)/ {
      proxy_pass http://127.0.0.1:$upstream_port;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_buffering off;
      proxy_request_buffering off;
      proxy_next_upstream off;
      proxy_read_timeout 30s;
    }
  }
EOF
  set -- $https_ports
  for name in trusted wrong-name untrusted; do
    cat >> "$state/nginx.conf" <<EOF

  server {
    listen 127.0.0.1:$1 ssl;
    server_name 127.0.0.1;
    root "$state/www";
    ssl_certificate "$state/tls/$name.pem";
    ssl_certificate_key "$state/tls/key.pem";
  }
EOF
    shift
  done
  echo "}" >> "$state/nginx.conf"
}

start_upstream() {
  local i
  rm -f "$state/upstream.port" "$state/upstream.pid"
  # Its own output, not CTest's pipes: CTest waits until those close.
  python3 "$here/fault_upstream.py" "$state/www" \
    --port-file "$state/upstream.port" --pid-file "$state/upstream.pid" \
    < /dev/null >> "$state/upstream.log" 2>&1 &
  for i in $(seq 100); do
    [ -s "$state/upstream.port" ] && return 0
    kill -0 $! 2>/dev/null || break
    sleep 0.1
  done
  echo "feed-server.sh: the fault upstream did not start:" >&2
  tail -n 20 "$state/upstream.log" >&2
  return 1
}

start() {
  local port upstream_port try i
  stop
  mkdir -p "$state/www" "$state/temp"
  : > "$state/access.log"
  : > "$state/error.log"
  start_upstream
  upstream_port=$(cat "$state/upstream.port")
  make_certificates

  # A free port may be taken before nginx binds it: then another one.
  for try in 1 2 3 4 5; do
    port=$(free_port)
    https_ports="$(free_port) $(free_port) $(free_port)"
    write_config "$port" "$upstream_port" "$https_ports"
    # The master forks and returns once it listens; an nginx that stays in
    # the foreground would hold the start forever.
    if timeout 20 "$nginx" -p "$state/" -c "$state/nginx.conf" -e "$state/error.log" \
        < /dev/null > "$state/nginx.out" 2>&1; then
      for i in $(seq 100); do
        if answers "http://127.0.0.1:$port/"; then
          # nginx appends: the tests' log starts without the probe.
          : > "$state/access.log"
          echo "http://127.0.0.1:$port" > "$state/url"
          set -- $https_ports
          echo "https://127.0.0.1:$1" > "$state/url-https"
          echo "https://127.0.0.1:$2" > "$state/url-https-wrong-name"
          echo "https://127.0.0.1:$3" > "$state/url-https-untrusted"
          return 0
        fi
        sleep 0.1
      done
      echo "feed-server.sh: nginx started but does not answer on port $port" >&2
      break
    fi
    grep -q "Address already in use" "$state/nginx.out" || break
  done
  echo "feed-server.sh: nginx did not start:" >&2
  cat "$state/nginx.out" >&2
  tail -n 20 "$state/error.log" >&2 || true
  stop
  return 1
}

[ $# -eq 2 ] || usage
state=$2
case "$state" in
  *[\"\$\\\;{}]* | *$'\n'*) echo "feed-server.sh: STATE_DIR must not hold \" \$ \\ ; { } or a newline (it goes into nginx.conf)" >&2; exit 2 ;;
esac
case "$1" in
  start)
    mkdir -p "$state"
    state=$(cd "$state" && pwd -P)
    start
    ;;
  stop)
    [ -d "$state" ] || exit 0
    state=$(cd "$state" && pwd -P)
    stop
    ;;
  *) usage ;;
esac
