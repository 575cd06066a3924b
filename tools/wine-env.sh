# Sourced by the scripts that run Windows programs: a Wine prefix of the
# project's own inside the build folder, one persistent wineserver, and a
# virtual X display for the first-start window.

export WINEDEBUG=-all
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="

start_wine() {
  local build=$1
  export WINEPREFIX=$build/wineprefix
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$build"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # Without a window manager, destroying an unmanaged window is immediate;
    # a managed one waits for the (absent) manager for about two seconds.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
  fi
  wineserver -p 2>/dev/null || true  # already running: keep it
}

stop_wine() {
  wineserver -k 2>/dev/null || true
}

in_display() {
  xvfb-run -a -s "-screen 0 1024x768x24" "$@"
}
