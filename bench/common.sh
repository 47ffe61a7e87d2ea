# Shared by the benchmark scripts: the build, a run directory, free ports,
# and the demo daemon with four simulated boards.  Everything a script
# starts is remembered by its process id and stopped when the script ends.

BENCH_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$BENCH_SRC")
BUILD=${HOVANTRA_BENCH_BUILD:-$ROOT/build-bench}
BENCH_BIN=$BUILD/bench

STARTED_PIDS=()
RUN=$(mktemp -d /tmp/hovantra-bench-XXXXXX)
chmod 755 "$RUN"  # peers serving from here may drop to another user

cleanup() {
  local pid
  for pid in "${STARTED_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${STARTED_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Configures the Release tree once and builds the given targets.
bench_build() {
  local log=$RUN/build.log
  if ! { [ -f "$BUILD/CMakeCache.txt" ] ||
         cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DHOVANTRA_BENCH=ON; } >"$log" 2>&1 ||
     ! cmake --build "$BUILD" -j2 --target "$@" >>"$log" 2>&1; then
    cat "$log" >&2
    echo "build failed" >&2
    exit 1
  fi
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to $2 seconds (default 10) for a TCP listener on 127.0.0.1:$1.
wait_port() {
  local deadline=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $deadline ]; do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# Runs a command in the background, bounded by $1 seconds, and remembers it.
start_bounded() {
  local limit=$1
  shift
  timeout -k 3 "$limit" "$@" &
  STARTED_PIDS+=($!)
  LAST_PID=$!
}

# The demo configuration on free ports, with the demo's two boards and two
# more contact boards, so that the poller serves four boards.  Sets
# CONSOLE_PORT, WEB_PORT, DAEMON_PID (the daemon itself), DEMO_DIR.
# $1: seconds the daemon may live at most; $2: a file of further sections.
start_demo() {
  local limit=${1:-600} extra=${2:-}
  CONSOLE_PORT=$(free_port)
  WEB_PORT=$(free_port)
  local demo=$RUN/demo
  mkdir -p "$demo"/sms/{incoming,outgoing,composing,proceeded,failed} "$demo"/boards
  sed -e "s|/tmp/hovantra-demo|$demo|g" \
      -e "s|^path = www/|path = $ROOT/examples/demo/www/|" \
      -e "s|^port = 7280\$|port = $CONSOLE_PORT|" \
      -e "s|^port = 7281\$|port = $WEB_PORT|" \
      "$ROOT/examples/demo/hovantra.ini" > "$demo/hovantra.ini"
  cat >> "$demo/hovantra.ini" <<'INI'

# Two more boards for the benchmark: contacts only.
[device 3]
input:0 = garage
input_on:0 = garage_open
input_off:0 = garage_closed

[device 4]
input:0 = shed
input_on:0 = shed_open
input_off:0 = shed_closed
INI
  if [ -n "$extra" ]; then cat "$extra" >> "$demo/hovantra.ini"; fi
  export HOVANTRA_SIMULATED_BOARDS=$demo/boards
  local board=$BUILD/hovantra-board
  "$board" add house 1:1:1 >/dev/null
  "$board" set house inputs 44 >/dev/null
  "$board" add heating 1:1:2 >/dev/null
  "$board" temp heating 28000000000000A1 22 >/dev/null
  "$board" temp heating 28000000000000B2 55 >/dev/null
  "$board" add garage 1:1:3 >/dev/null
  "$board" add shed 1:1:4 >/dev/null
  DEMO_DIR=$demo
  launch_daemon "$demo" "$limit"
  wait_port "$CONSOLE_PORT" || { cat "$demo/hovantra.log" "$demo/stdout" >&2; exit 1; }
  wait_port "$WEB_PORT" || exit 1
}

# Starts build/hovantra in the foreground on $1/hovantra.ini, run from $1,
# for at most $2 seconds; sets DAEMON_PID.  Further arguments are put
# before the daemon, as env(1) takes them.
launch_daemon() {
  local dir=$1 limit=$2
  shift 2
  (cd "$dir" && exec env "$@" timeout -k 3 "$limit" "$BUILD/hovantra" -f \
     -c "$dir/hovantra.ini" >"$dir/stdout" 2>&1) &
  local guard=$!
  STARTED_PIDS+=($guard)
  # The subshell became env, then timeout; the daemon is timeout's child.
  local deadline=$((SECONDS + 10))
  DAEMON_PID=
  while [ -z "$DAEMON_PID" ] && [ $SECONDS -lt $deadline ]; do
    sleep 0.05
    DAEMON_PID=$(pgrep -P "$guard" -x hovantra || true)
  done
  [ -n "$DAEMON_PID" ] || { echo "the daemon did not start in $dir" >&2; exit 1; }
}

# Stops a process this script started and waits until it is gone.
stop_pid() {
  kill "$1" 2>/dev/null || true
  while kill -0 "$1" 2>/dev/null; do sleep 0.05; done
}

# Resident memory of process $1 in KiB.
rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$1/status"; }

# Nanoseconds process $1 has run on a CPU (the scheduler's own count, far
# finer than the 10 ms tick of utime and stime).
cpu_ns() { cut -d' ' -f1 "/proc/$1/schedstat"; }

# Installs the named Debian packages when a command of theirs is missing
# (as root), or prints the line to run.
ensure_bench_packages() {
  local need=() p cmd
  for p in "$@"; do
    case $p in
      nginx-light) cmd=nginx ;;
      *) cmd=$p ;;
    esac
    command -v "$cmd" >/dev/null || need+=("$p")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  if [ "$(id -u)" = 0 ]; then
    { apt-get update -qq && apt-get install -y --no-install-recommends "${need[@]}"; } \
      >"$RUN/apt.log" 2>&1 || { cat "$RUN/apt.log" >&2; exit 1; }
  else
    echo "missing packages; run as root:  apt-get install ${need[*]}" >&2
    exit 1
  fi
}

# Prints "a / b" to two decimals.
ratio() {
  python3 -c "import sys; a, b = float(sys.argv[1]), float(sys.argv[2]); print('%.2f' % (a / b) if b else 'n/a')" "$1" "$2"
}

machine_line() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
  echo "machine: $(nproc) cores, $cpu, Linux $(uname -r), $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
