# Sourced by the scripts that run Windows programs: for one architecture
# (win32 or win64) the Wine loader of that architecture, a prefix of the
# project's own inside the build folder, one persistent wineserver, and a
# virtual X display for the first-start window.
#
# The loader is always chosen by architecture. Debian's /usr/bin/wine picks
# the 32-bit loader whenever wine32 is installed, even on a host that cannot
# execute 32-bit code, so it is never used.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

wine_loader_for() {
  case $1 in
    win32) echo /usr/lib/wine/wine ;;
    win64) echo /usr/lib/wine/wine64 ;;
    *) echo "wine-env.sh: unknown architecture '$1' (win32 or win64)" >&2; return 2 ;;
  esac
}

# Whether this host can run the architecture's Windows programs. On failure
# WINE_PROBE_REASON says why, in a few words.
can_run_arch() {
  local loader out
  loader=$(wine_loader_for "$1") || return 2
  WINE_PROBE_REASON=
  if [ ! -x "$loader" ]; then
    WINE_PROBE_REASON="$loader is not installed"
    return 1
  fi
  if ! out=$("$loader" --version 2>&1); then
    WINE_PROBE_REASON="$loader does not start: ${out:-no output} (the kernel cannot execute this architecture's programs)"
    return 1
  fi
  return 0
}

# Sets up Wine for one architecture with its prefix in the given folder and
# starts its persistent wineserver. Afterwards "$WINELOADER" runs programs.
start_wine() {
  local arch=$1 prefix
  prefix=$(realpath -m "$2")  # Wine takes only an absolute prefix
  export WINEARCH=$arch
  export WINELOADER
  WINELOADER=$(wine_loader_for "$arch")
  export WINEPREFIX=$prefix
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    # Without a window manager, destroying an unmanaged window is immediate;
    # a managed one waits for the (absent) manager for about two seconds.
    "$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-env.sh: could not create the $arch Wine prefix in $WINEPREFIX" >&2
      return 1
    fi
  fi
  wineserver -p 2>/dev/null || true  # already running: keep it
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
}

# start_wine_pool ARCH POOL COUNT [TEMPLATE]: COUNT prefixes side by side,
# POOL/prefix1/wineprefix, ..., each with its wineserver running, and
# POOL/resources.json, the CTest resource spec that hands each test one of
# them (the resource "prefix"): tests that share a prefix, and with it its
# mutexes, registry and application-data folder, never run at the same time.
# tests/run-in-wine.sh picks the test's prefix from LAUNCHER_WINE_PREFIX_POOL.
# The first prefix is copied from TEMPLATE when given, the others from the
# first: copying is much faster than making one.
start_wine_pool() {
  local arch=$1 pool=$2 count=$3 template=${4:-} id slots=
  pool=$(realpath -m "$pool")
  local first=$pool/prefix1/wineprefix
  if [ ! -f "$first/system.reg" ] && [ -n "$template" ] && [ -f "$template/system.reg" ]; then
    rm -rf "$first" && mkdir -p "${first%/*}" && cp -a "$template" "$first" || return 1
  fi
  # Made (or found), then stopped, so that its registry is on disk to copy.
  start_wine "$arch" "$first" || return 1
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  for id in $(seq 1 "$count"); do
    local prefix=$pool/prefix$id/wineprefix
    if [ ! -f "$prefix/system.reg" ]; then
      rm -rf "$prefix" && mkdir -p "${prefix%/*}" && cp -a "$first" "$prefix" || return 1
    fi
    start_wine "$arch" "$prefix" || return 1
    slots+="${slots:+, }{\"id\": \"$id\", \"slots\": 1}"
  done
  echo "{\"version\": {\"major\": 1, \"minor\": 0}, \"local\": [{\"prefix\": [$slots]}]}" > "$pool/resources.json"
  export LAUNCHER_WINE_PREFIX_POOL=$pool WINEPREFIX=$first
}

stop_wine_pool() {
  local prefix
  for prefix in "${LAUNCHER_WINE_PREFIX_POOL:?}"/prefix*/wineprefix; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  done
}

in_display() {
  xvfb-run -a -s "-screen 0 1024x768x24" "$@"
}
