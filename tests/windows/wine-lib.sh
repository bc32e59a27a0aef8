# What the Wine test scripts share; sourced with arch, here and top set.
# Sets loader and sys (the architecture's Wine loader and system folder), a
# temporary folder work holding the Wine prefix (WINEPREFIX, when set, is used
# instead), ok/FAIL counting, and a cleanup that stops qmx-server and the prefix.
. "$top/scripts/lib.sh"
case $arch in
  x64) loader=/usr/lib/wine/wine64; sys='C:\windows\system32' ;;
  x86) loader=/usr/lib/wine/wine; sys='C:\windows\syswow64' ;;
  *) echo "unknown architecture $arch" >&2; exit 2 ;;
esac
export WINELOADER=$loader WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/prefix}
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  # The prefix's wineserver holds files in it until it ends.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
passed=0 failed=0
pass() { passed=$((passed + 1)); echo "  ok $*"; }
fail() { failed=$((failed + 1)); echo "  FAIL $*"; }
wine() { "$loader" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# What a command prints once two runs in a row agree: on a loaded machine a
# reg.exe reading now and then lacks a whole key that is there, or comes while
# the last Wine process still writes.
settled() {
  local last now _
  last=$("$@")
  for _ in 1 2 3 4 5; do
    now=$("$@")
    [ "$now" = "$last" ] && break
    last=$now
    sleep 1
  done
  printf '%s\n' "$now"
}

# The control's keys under a Classes root: its class, ProgID, type library and
# the type library's two interfaces.
control_class_keys=('CLSID\{117224C4-21F9-4A8E-83B8-C5878C84C3E0}' 'QMXProdActiveX.XMLLoad'
                    'TypeLib\{C84D86A1-C391-45D5-AE21-D07F6D2E2879}'
                    'Interface\{6984521A-5664-4A3C-A7EB-E155A37A3D5D}' 'Interface\{223971BA-EA2F-4BC2-B350-95FC0A56DCA0}')

# Counts a script's ok/FAIL lines; a script without its end marker failed.
run_script() {
  local name=$1; shift
  local out
  out=$(wine "$sys\\cscript.exe" //nologo "$(winpath "$here/scripts/$name")" "$@" 2>&1 | tr -d '\r') || true
  printf '%s\n' "$out" | sed -n 's/^\(ok\|FAIL\) /\1 /p' | while read -r word rest; do
    [ "$word" = ok ] && echo "  ok [$name] $rest" || echo "  FAIL [$name] $rest"
  done
  passed=$((passed + $(grep -c '^ok ' <<<"$out" || true)))
  failed=$((failed + $(grep -c '^FAIL ' <<<"$out" || true)))
  if [ "$(tail -n 1 <<<"$out")" != "END-OF-SCRIPT" ]; then
    fail "[$name] ended early:"
    printf '%s\n' "$out" | tail -n 5 | sed 's/^/      /'
  fi
}

# The example machine's settings and folders, and a demo qmx-server started on
# a free port (its database db, its address url).
example_machine() {
  wine "$sys\\reg.exe" import "$(winpath "$top/examples/machine/registry.reg")" /reg:32 >/dev/null 2>&1 ||
    fail "reg import of the example machine"
  mkdir -p "$WINEPREFIX/drive_c/QMXData" "$WINEPREFIX/drive_c/QMX Client/Inbox"
  db=$work/demo.db
  "$server" init-demo --db "$db" >/dev/null
  start_server "$server" "$db" "$work" || { fail "qmx-server did not start"; echo "$passed passed, $failed failed"; exit 1; }
  url=$server_url
}
