# Sourced by scripts/test and scripts/demo: a private Wine prefix under the
# build tree and an Xvfb display, started before anything runs under Wine
# and stopped at the end.
#
#   trap kv_wine_stop EXIT     first, so that every way out stops them
#   kv_wine_start PREFIX_DIR   exports WINEPREFIX, WINEDEBUG, DISPLAY...;
#                              status 1 when Xvfb or Wine does not start
#   kv_wine_stop

kv_wine_start() {
  export WINEPREFIX="$1"
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  mkdir -p "$WINEPREFIX" || return 1

  # A display of our own: the first free number from 90 on.
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  KV_XVFB_PID=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  if [ ! -e "/tmp/.X11-unix/X$n" ]; then
    echo "wine-env: Xvfb did not start on display :$n" >&2
    return 1
  fi

  # Every Wine command runs with its streams detached, so that Wine's
  # background processes hold no pipe of whoever runs the tests. A new
  # prefix is made first, by a boot of its own that is left to end: run
  # under the same server as the tests, it leaves a second set of services
  # behind, and every window program then starts 10 s late.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    if ! wineboot --init </dev/null >/dev/null 2>&1; then
      echo "wine-env: the Wine prefix $WINEPREFIX could not be made" >&2
      return 1
    fi
    wineserver -w </dev/null >/dev/null 2>&1
  fi
  # One server for the whole run.
  if ! wineserver -p </dev/null >/dev/null 2>&1; then
    echo "wine-env: wineserver did not start for $WINEPREFIX" >&2
    return 1
  fi
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # Xvfb has no window manager: unmanaged windows close at once instead of
  # after Wine's two-second wait for one.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1 || true
  # A first window program starts the desktop process now, detached, rather
  # than inside the first test that opens a window.
  wine rundll32.exe user32.dll,MessageBeep </dev/null >/dev/null 2>&1 || true
}

kv_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  if [ -n "${KV_XVFB_PID:-}" ]; then
    kill "$KV_XVFB_PID" 2>/dev/null || true
    wait "$KV_XVFB_PID" 2>/dev/null || true
    KV_XVFB_PID=
  fi
}
