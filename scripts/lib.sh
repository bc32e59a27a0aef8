# Helpers the scripts share; sourced (". scripts/lib.sh"), never run.

# die MESSAGE...: says why the script cannot go on, and stops it.
die() {
  echo "$(basename "$0"): $*" >&2
  exit 1
}

# ensure_packages PACKAGE...: installs the Debian packages among these that are
# not installed yet (through sudo when not root).
ensure_packages() {
  command -v dpkg-query >/dev/null && command -v apt-get >/dev/null ||
    die "installs Debian packages with apt-get, which this machine lacks; install these yourself: $*"
  local missing=() p sudo=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || die "needs root or sudo to install: ${missing[*]}"
    sudo=sudo
  fi
  $sudo apt-get update -qq || die "apt-get update failed; cannot install: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    die "apt-get could not install: ${missing[*]}"
}

# start_server SERVER DB DIR [ARGS...]: starts "SERVER serve --db DB --port 0
# ARGS..." in the background, its output in DIR/server.out and DIR/server.err.
# Sets server_pid, and server_url to the address it listens on; when it does
# not start within five seconds, shows its errors and returns 1.
start_server() {
  local server=$1 db=$2 dir=$3
  shift 3
  "$server" serve --db "$db" --port 0 "$@" >"$dir/server.out" 2>"$dir/server.err" &
  server_pid=$!
  server_url=""
  for _ in $(seq 1 100); do
    server_url=$(sed -n 's/^listening on //p' "$dir/server.out")
    [ -n "$server_url" ] && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "qmx-server did not start:" >&2
  cat "$dir/server.err" >&2
  return 1
}
