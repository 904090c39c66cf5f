# Sourced by scripts/wine-session (the win32 tests' emulator and their ctest
# fixture) and scripts/demo. A Wine session: a private prefix under the build
# tree, an Xvfb display and one Wine server, brought up once and shared by
# every Windows program run in it until it is stopped.
#
#   kv_wine_up PREFIX_DIR    brings the session up unless it is up, and
#                            exports WINEPREFIX, WINEARCH, WINEDEBUG,
#                            WINEDLLOVERRIDES and DISPLAY; status 1 when Xvfb
#                            or Wine does not start
#   kv_wine_down PREFIX_DIR  stops the session's Wine server and display
#   kv_wine_start PREFIX_DIR, kv_wine_stop: the same, for a script that
#                            stops the session it started (trap kv_wine_stop EXIT)
#
# The session's state lies beside the prefix, in PREFIX_DIR.session/: a lock,
# since test programs may start at once and each makes sure the session is
# up, and the display number with the pids of Xvfb and of the Wine server.
# Every process that can outlive its caller starts in a session of its own
# with its streams on /dev/null and without the lock's descriptor (fd 9):
# Wine's services inherit what they find open, and a pipe held open keeps
# ctest waiting for its end, a lock held keeps the next start waiting.

kv_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Wine takes its code pages and the encoding of Unix file names from the
  # locale: the same for every caller, so that names outside ASCII work
  # under a bare environment too.
  export LC_ALL=C.UTF-8
}

# Runs a command to its end, detached.
_kv_detached() {
  setsid -w "$@" </dev/null >/dev/null 2>&1 9>&-
}

# The name wineserver gives its directory for the prefix: device and inode.
_kv_server_dir_name() {
  printf 'server-%s-%x' "$(stat -c %D "$1")" "$(stat -c %i "$1")"
}

# Status 0 when PID is a live Xvfb (a zombie has no command line).
_kv_is_xvfb() {
  local command
  [ -n "$1" ] && command=$(tr '\0' ' ' 2>/dev/null <"/proc/$1/cmdline") &&
    [[ "${command%% *}" == *Xvfb ]]
}

# Status 0 when PID is a live Wine server of the prefix: it works in its
# directory.
_kv_is_server() {
  [ -n "$1" ] && [[ "$(readlink "/proc/$1/cwd" 2>/dev/null)" == */"$2" ]]
}

_kv_wine_alive() {
  local state="$1.session" n xvfb server
  read -r n xvfb server 2>/dev/null <"$state/session" || return 1
  [ -e "/tmp/.X11-unix/X$n" ] && _kv_is_xvfb "$xvfb" &&
    _kv_is_server "$server" "$(_kv_server_dir_name "$1")" || return 1
  export DISPLAY=":$n"
}

_kv_wine_down_locked() {
  local state="$1.session" n xvfb server i
  # WINEPREFIX is always ours here: without it wineserver -k would stop the
  # server of ~/.wine.
  if [ -d "$1" ]; then
    _kv_detached env WINEPREFIX="$1" wineserver -k || true
    _kv_detached env WINEPREFIX="$1" wineserver -w || true
  fi
  if read -r n xvfb server 2>/dev/null <"$state/session" && _kv_is_xvfb "$xvfb"; then
    kill "$xvfb" 2>/dev/null || true
    for i in $(seq 1 50); do
      _kv_is_xvfb "$xvfb" || break
      sleep 0.1
    done
  fi
  rm -f "$state/session"
}

_kv_wine_up_locked() {
  local prefix="$1" state="$1.session" n= xvfb i
  _kv_wine_alive "$prefix" && return 0
  # Whatever is left of an earlier session (a display that died, a server
  # stopped by hand) goes first: its desktop process would use the old display.
  _kv_wine_down_locked "$prefix"

  # Xvfb picks a free display itself and writes its number once it accepts
  # connections, so that runs side by side never race for one. Its pid is
  # written by the shell it replaces (setsid may fork).
  rm -f "$state/display" "$state/xvfb"
  setsid sh -c 'echo $$ >"$0" && exec "$@"' "$state/xvfb" \
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    3>"$state/display" </dev/null >/dev/null 2>&1 9>&- &
  for i in $(seq 1 100); do
    read -r n 2>/dev/null <"$state/display" || true
    [ -n "$n" ] && break
    sleep 0.1
  done
  read -r xvfb 2>/dev/null <"$state/xvfb" || true
  # Recorded first, so that a stop ends an Xvfb that started too late.
  echo "${n:--} $xvfb" >"$state/session"
  if [ -z "$n" ] || [ ! -e "/tmp/.X11-unix/X$n" ] || ! _kv_is_xvfb "$xvfb"; then
    echo "wine-session: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$n"

  # A new prefix is made first, by a boot of its own that is left to end:
  # run under the session's server, it leaves a second set of services
  # behind, and every window program then starts 10 s late.
  if [ ! -f "$prefix/system.reg" ]; then
    if ! _kv_detached wineboot --init; then
      echo "wine-session: the Wine prefix $prefix could not be made" >&2
      return 1
    fi
    _kv_detached wineserver -w
  fi
  # One server for the whole session.
  setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  local name server
  name=$(_kv_server_dir_name "$prefix")
  for i in $(seq 1 50); do
    server=$(find /proc -maxdepth 2 -name cwd -lname "*/$name" -print -quit 2>/dev/null) || true
    server=${server#/proc/}
    server=${server%/cwd}
    [ -n "$server" ] && break
    sleep 0.1
  done
  if ! _kv_is_server "$server" "$name"; then
    echo "wine-session: wineserver did not start for $prefix" >&2
    return 1
  fi
  echo "$n $xvfb $server" >"$state/session"
  # The services start now, detached, not in the first test.
  _kv_detached wine cmd /c exit || true
  # Xvfb has no window manager: unmanaged windows close at once instead of
  # after Wine's two-second wait for one.
  _kv_detached wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f || true
  # A first window program starts the desktop process now, detached, rather
  # than inside the first test that opens a window.
  _kv_detached wine rundll32.exe user32.dll,MessageBeep || true
  return 0
}

# Runs "FUNCTION PREFIX" holding the session's lock, PREFIX made absolute:
# the programs run elsewhere.
_kv_wine_locked() {
  local prefix rc=0
  mkdir -p "$2" || return 1
  prefix=$(cd "$2" && pwd) || return 1
  mkdir -p "$prefix.session" || return 1
  exec 9>"$prefix.session/lock" || return 1
  flock 9 || return 1
  "$1" "$prefix" || rc=$?
  exec 9>&-
  return $rc
}

_kv_wine_up_env() {
  kv_wine_env "$1"
  _kv_wine_up_locked "$1"
}

kv_wine_up() {
  _kv_wine_locked _kv_wine_up_env "$1"
}

kv_wine_down() {
  # Nothing to stop where no session was ever made.
  [ -d "$1" ] || [ -d "$1.session" ] || return 0
  _kv_wine_locked _kv_wine_down_locked "$1"
}

kv_wine_start() {
  KV_WINE_SESSION_PREFIX="$1"
  kv_wine_up "$1"
}

kv_wine_stop() {
  if [ -n "${KV_WINE_SESSION_PREFIX:-}" ]; then
    kv_wine_down "$KV_WINE_SESSION_PREFIX"
    KV_WINE_SESSION_PREFIX=
  fi
}
