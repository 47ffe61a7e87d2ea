# Sourced by run_all after common.sh: the peers hovantra is measured
# against, and the clients that measure a server.

# lighttpd serving $1 on a free port, /protected behind Digest for realm $2
# (user demo, password demo).  Sets LIGHTTPD_PORT.
start_lighttpd() {
  local www=$1 realm=$2
  python3 -c "import hashlib; print('demo:$realm:' + hashlib.md5(b'demo:$realm:demo').hexdigest())" \
    > "$RUN/htdigest"
  LIGHTTPD_PORT=$(free_port)
  cat > "$RUN/lighttpd.conf" <<CONF
server.document-root = "$www"
server.bind = "127.0.0.1"
server.port = $LIGHTTPD_PORT
server.errorlog = "$RUN/lighttpd.err"
server.modules = ("mod_auth", "mod_authn_file")
mimetype.assign = ("" => "text/html")
auth.backend = "htdigest"
auth.backend.htdigest.userfile = "$RUN/htdigest"
auth.require = ("/protected" => ("method" => "digest", "realm" => "$realm",
                                 "require" => "valid-user"))
CONF
  start_bounded 3600 lighttpd -D -f "$RUN/lighttpd.conf"
  wait_port "$LIGHTTPD_PORT"
}

# nginx with one worker serving $1 on a free port, /protected behind Basic
# authentication (Debian's nginx has no Digest).  Sets NGINX_PORT.
start_nginx() {
  local www=$1 realm=$2
  echo "demo:{PLAIN}demo" > "$RUN/htpasswd"
  NGINX_PORT=$(free_port)
  mkdir -p "$RUN/nginx"
  cat > "$RUN/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $RUN/nginx/nginx.pid;
error_log $RUN/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  default_type text/html;
  client_body_temp_path $RUN/nginx/body;
  proxy_temp_path $RUN/nginx/proxy;
  fastcgi_temp_path $RUN/nginx/fastcgi;
  uwsgi_temp_path $RUN/nginx/uwsgi;
  scgi_temp_path $RUN/nginx/scgi;
  server {
    listen 127.0.0.1:$NGINX_PORT;
    root $www;
    location = /protected {
      auth_basic "$realm";
      auth_basic_user_file $RUN/htpasswd;
    }
  }
}
CONF
  start_bounded 3600 nginx -p "$RUN/nginx" -e "$RUN/nginx/error.log" -c "$RUN/nginx/nginx.conf"
  wait_port "$NGINX_PORT"
}

# Authorization header answering a fresh challenge of the server at port
# $1.  The daemon's nonce lives 15 s after its last use, and lighttpd
# accepts the repeated nc of its qop=auth form, so one header serves a
# whole wrk run.
digest_for() {
  local chal
  chal=$(curl -s -i "http://127.0.0.1:$1/protected" | tr -d '\r' | grep -i '^WWW-Authenticate: Digest')
  python3 "$BENCH_SRC/digest_header.py" "${chal#*: }" demo demo GET /protected
}

# The server at port $1 answers /protected with header $2.
check_auth() {
  local code
  code=$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: $2" "http://127.0.0.1:$1/protected")
  [ "$code" = 200 ] || { echo "port $1 refused the computed authorization ($code)" >&2; exit 1; }
}

echo 0 > "$RUN/served.web"
echo 0 > "$RUN/served.console"

# Adds $2 to the counter file $1.
tally() { echo $(($(cat "$1") + $2)) > "$1"; }

# Requests per second of wrk against URL $1 ($WRK_CONNECTIONS connections,
# $WRK_SECONDS or $secs seconds) with the headers after $2.  $2 "h" counts
# the requests as served by the daemon.  A run with any answer other than
# 2xx, or with answers shorter than the page ($page_bytes), fails.
wrk_rate() {
  local url=$1 who=$2 out=$RUN/wrk.out
  shift 2
  local args=() h
  for h in "$@"; do args+=(-H "$h"); done
  wrk -t1 -c"$WRK_CONNECTIONS" -d"${WRK_SECONDS:-$secs}s" "${args[@]}" "$url" > "$out" 2>&1
  local result
  result=$(python3 - "$out" "$page_bytes" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
page = int(sys.argv[2])
done = re.search(r"(\d+) requests in [^,]*, ([\d.]+)([KMGT]?B) read", text)
rate = re.search(r"^Requests/sec:\s*([\d.]+)", text, re.M)
if "Non-2xx" in text or not done or not rate:
    sys.exit("failed answers")
scale = {"B": 1, "KB": 1 << 10, "MB": 1 << 20, "GB": 1 << 30, "TB": 1 << 40}
per_answer = float(done.group(2)) * scale[done.group(3)] / int(done.group(1))
if per_answer < page * 0.99:  # wrk rounds the byte count
    sys.exit("answers of %.0f bytes, the page has %d" % (per_answer, page))
print(int(float(rate.group(1))), done.group(1))
PY
) || { cat "$out" >&2; exit 1; }
  SERVED=${result#* }
  [ "$who" = h ] && tally "$RUN/served.web" "$SERVED"
  echo "${result% *}"
}

# Requests per second of web_load on port $1, path $2 ($WRK_CONNECTIONS
# connections, $secs seconds), with the headers after $3: one connection
# per request, each answer read until the server closes.  $3 "h" counts
# the requests as served by the daemon.  web_load itself fails the run on
# an answer other than 2xx or shorter than the page.
load_rate() {
  local port=$1 path=$2 who=$3 rate
  shift 3
  local args=() h
  for h in "$@"; do args+=(-H "$h"); done
  rate=$("$BENCH_BIN/web_load" -p "$port" -u "$path" -c "$WRK_CONNECTIONS" -d "$secs" -w 0 \
           -l "$page_bytes" "${args[@]}" | sed -n 's/^requests_per_second=\([0-9]*\).*/\1/p')
  [ -n "$rate" ] || { echo "web_load failed on port $port" >&2; exit 1; }
  SERVED=$(python3 -c "print(round($rate * $secs))")
  [ "$who" = h ] && tally "$RUN/served.web" "$SERVED"
  echo "$rate"
}

# Runs case function $1 and appends its rate to $RUN/rates/$1; when $2 names
# a process, also the microseconds of CPU it used per request served to
# $RUN/cpu/$1.  The case sets SERVED (run in this shell, not a subshell).
measure() {
  local c=$1 pid=$2 t0=0 t1
  mkdir -p "$RUN/rates" "$RUN/cpu"
  SERVED=0
  [ "$pid" != - ] && t0=$(cpu_ns "$pid")
  "case_$c" > "$RUN/rate.out"
  cat "$RUN/rate.out" >> "$RUN/rates/$c"
  if [ "$pid" != - ]; then
    t1=$(cpu_ns "$pid")
    python3 -c "print(round(($t1 - $t0) / 1e3 / max($SERVED, 1), 1))" \
      >> "$RUN/cpu/$c"
  fi
}

# Lines per second over port $1 with $2 closed-loop clients sending line
# $3, each answer starting with $4, after $5 greeting lines; $6 "h" counts
# the commands as served by the daemon; $7 seconds (default $secs).
line_rate() {
  local d=${7:-$secs} rate
  rate=$("$BENCH_BIN/console_load" -p "$1" -c "$2" -d "$d" -w 0 -m "$3" -e "$4" -g "$5" |
         sed -n 's/^commands_per_second=\([0-9]*\).*/\1/p')
  [ -n "$rate" ] || { echo "console_load failed on port $1" >&2; exit 1; }
  SERVED=$(python3 -c "print(round($rate * $d))")
  [ "$6" = h ] && tally "$RUN/served.console" "$SERVED"
  echo "$rate"
}

# Lines of greeting the console at port $1 sends: two helps in a row tell
# the greeting from the answer, everything before the two equal last lines
# is greeting.  Prints the count, then the answer line.
console_probe() {
  python3 - "$1" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.settimeout(5)
s.sendall(b"help\nhelp\n")
data, deadline = b"", time.monotonic() + 5
while time.monotonic() < deadline:
    data += s.recv(4096)
    lines = data.split(b"\n")[:-1]
    if len(lines) >= 2 and lines[-1] == lines[-2]:
        break
else:
    sys.exit("no answer to help")
s.close()
print(len(lines) - 2)
print(lines[-1].decode())
PY
}

# Milliseconds from exec to "starting in the mode" in the log for a
# configuration of $1 states, $1 events and $1 commands, and the CPU
# milliseconds the daemon used in all (it is stopped right after the line);
# the medians of $2 starts.
startup_time_ms() {
  local dir=$RUN/scale
  mkdir -p "$dir"
  python3 - "$1" "$(free_port)" "$(free_port)" > "$dir/hovantra.ini" <<'PY'
import sys
n, console, web = map(int, sys.argv[1:4])
print("[general]\nlog = hovantra.log\nstate = hovantra.state\ndefaultstate = big.s0\n")
print("[console]\nip = 127.0.0.1\nport = %d\n" % console)
print("[webserver]\nip = 127.0.0.1\nport = %d\n" % web)
for i in range(n):
    print("[state big.s%d]\n" % i)
for i in range(n):
    print("[event e%d]\nfsm = big\ntransit = big.* -> big.s%d\n" % (i, (i * 7919) % n))
for i in range(n):
    print("[command c%d]\nevent = e%d\nresponse = c%d done\n" % (i, i, i))
PY
  python3 - "$BUILD/hovantra" "$dir" "$2" <<'PY'
import os, signal, statistics, subprocess, sys, time
daemon, d, starts = sys.argv[1], sys.argv[2], int(sys.argv[3])
log = os.path.join(d, "hovantra.log")
times, cpu = [], []
for _ in range(starts):
    for f in ("hovantra.log", "hovantra.state"):
        try:
            os.unlink(os.path.join(d, f))
        except FileNotFoundError:
            pass
    t0 = time.monotonic()
    p = subprocess.Popen([daemon, "-f", "-c", os.path.join(d, "hovantra.ini")],
                         cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while time.monotonic() - t0 < 30:
        try:
            if "starting in the mode" in open(log).read():
                break
        except FileNotFoundError:
            pass
        time.sleep(0.0005)
    else:
        sys.exit("no start-up within 30 s")
    times.append((time.monotonic() - t0) * 1000)
    p.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(p.pid, 0)
    cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
print("%.0f %.0f" % (statistics.median(times), statistics.median(cpu)))
PY
}

peer_versions() {
  local v p out=""
  for p in lighttpd nginx-light redis-server wrk; do
    v=$(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo "?")
    out="$out$p $v, "
  done
  echo "peers from Debian: ${out%, }; $(gcc --version | head -1)"
}
