#!/usr/bin/env bash
# A headless X11 desktop for tests and demos: Xvfb, a private session bus, the
# accessibility bus (switched on before any application starts) and openbox.
#
#   headless-desktop.sh run -- COMMAND [ARGS...]   desktop for one command, then gone;
#                                                  the exit status is COMMAND's
#   headless-desktop.sh start STATE_DIR            leave a desktop running; its
#                                                  environment goes to STATE_DIR/env
#   headless-desktop.sh stop STATE_DIR             end the desktop started there
#
# Environment:
#   VANTO_DISPLAYS=60-69   take the display from this range instead of letting
#                          Xvfb pick the first free one
#   VANTO_DESKTOP_TIMEOUT  seconds each piece may take to come up (default 10)
set -uo pipefail

readonly timeout_seconds="${VANTO_DESKTOP_TIMEOUT:-10}"
readonly me="headless-desktop"

# Everything we start, in start order, as "pid:program" so that a stop from
# another shell can tell a reused pid from ours.
pieces=()
workdir=""
logfile=""
keep_log=0
leave_running=0
status=0
check_programs=0

die() {
  echo "$me: $*" >&2
  keep_log=1
  status=1
  exit 1
}

is_alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ -n $state && $state != Z* ]]
}

# Ends one piece: its process group when it leads one (so whatever the bus
# daemons activated goes with them), else the process alone; SIGKILL after 3 s.
# Our own children cannot have their pid reused before we reap them; pieces a
# "stop" finds in a state file are checked against the program they were.
end_piece() {
  local pid=$1 program=$2 comm pgid target
  comm=$(ps -o comm= -p "$pid" 2>/dev/null) || return 0
  if ((check_programs)) && [[ $comm != "${program:0:15}" ]]; then
    return 0
  fi
  pgid=$(ps -o pgid= -p "$pid" 2>/dev/null | tr -d ' ')
  target=$pid
  [[ $pgid == "$pid" ]] && target=-$pid
  kill -TERM -- "$target" 2>/dev/null
  local waited=0
  while is_alive "$pid" && ((waited < 60)); do
    sleep 0.05
    waited=$((waited + 1))
  done
  if is_alive "$pid"; then
    kill -KILL -- "$target" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
  return 0
}

end_all() {
  local i entry
  for ((i = ${#pieces[@]} - 1; i >= 0; i--)); do
    entry=${pieces[i]}
    end_piece "${entry%%:*}" "${entry#*:}"
  done
  pieces=()
}

on_exit() {
  local rc=$?
  trap - EXIT INT TERM HUP
  ((status == 0)) && status=$rc
  if ((leave_running == 0)); then
    end_all
  fi
  if [[ -n $workdir && -d $workdir ]]; then
    if ((keep_log)) || { ((status != 0)) && ((leave_running == 0)); }; then
      echo "$me: desktop log kept in $logfile" >&2
    elif ((leave_running == 0)); then
      rm -rf -- "$workdir"
    fi
  fi
  exit "$status"
}

on_signal() {
  status=$((128 + $1))
  exit "$status"
}

install_traps() {
  trap on_exit EXIT
  trap 'on_signal 2' INT
  trap 'on_signal 15' TERM
  trap 'on_signal 1' HUP
}

# Starts a desktop piece in its own session (so a Ctrl-C in the terminal reaches
# only the command, and the teardown keeps its order) and records it.
# setsid does not fork here: a background job is never a group leader.
spawn_piece() {
  local program=$1
  shift
  setsid "$program" "$@" </dev/null >>"$logfile" 2>&1 &
  last_pid=$!
  pieces+=("$last_pid:$(basename "$program")")
}

# wait_until DESCRIPTION PID COMMAND...: polls COMMAND until it succeeds, giving
# up when PID dies or the time-out passes.
wait_until() {
  local what=$1 pid=$2
  shift 2
  local deadline=$((SECONDS + timeout_seconds))
  until "$@" >/dev/null 2>&1; do
    if [[ -n $pid ]] && ! is_alive "$pid"; then
      die "$what exited before it was ready"
    fi
    if ((SECONDS >= deadline)); then
      die "$what did not come up within ${timeout_seconds} s"
    fi
    sleep 0.05
  done
}

display_file_ready() { [[ -s $1 && $(tail -c 1 "$1") == "" ]] && [[ -n $(cat "$1") ]]; }

start_xvfb_on() {
  local number=$1 displayfile=$workdir/display
  : >"$displayfile"
  # Xvfb closes the display fd after writing; setsid keeps it out of our group.
  # -noreset: Xvfb would otherwise reset whenever its last client leaves, refusing
  # connections meanwhile (xdpyinfo and xprop come and go while we wait).
  setsid Xvfb ${number:+":$number"} -displayfd 3 -screen 0 1440x900x24 -nolisten tcp -ac -noreset \
    3>"$displayfile" </dev/null >>"$logfile" 2>&1 &
  local pid=$!
  local deadline=$((SECONDS + timeout_seconds))
  until display_file_ready "$displayfile"; do
    if ! is_alive "$pid"; then
      wait "$pid" 2>/dev/null
      return 1
    fi
    if ((SECONDS >= deadline)); then
      pieces+=("$pid:Xvfb")
      die "Xvfb did not report a display within ${timeout_seconds} s"
    fi
    sleep 0.02
  done
  pieces+=("$pid:Xvfb")
  DISPLAY=":$(tr -d '[:space:]' <"$displayfile")"
  return 0
}

start_xvfb() {
  if [[ -n ${VANTO_DISPLAYS:-} ]]; then
    local first=${VANTO_DISPLAYS%-*} last=${VANTO_DISPLAYS#*-} n
    [[ $first =~ ^[0-9]+$ && $last =~ ^[0-9]+$ ]] || die "VANTO_DISPLAYS must look like 60-69"
    for ((n = first; n <= last; n++)); do
      [[ -e /tmp/.X$n-lock ]] && continue
      start_xvfb_on "$n" && return 0
    done
    die "Xvfb found no free display in $VANTO_DISPLAYS"
  fi
  start_xvfb_on "" || die "Xvfb exited before it reported a display"
}

bus_has_name() {
  dbus-send --session --print-reply=literal --reply-timeout=1000 --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q true
}

a11y_bus_answers() {
  # Ask only once the launcher owns the name, or the session bus would start
  # a second launcher by activation.
  bus_has_name org.a11y.Bus &&
    dbus-send --session --print-reply --reply-timeout=1000 --dest=org.a11y.Bus \
      /org/a11y/bus org.a11y.Bus.GetAddress
}

wm_is_running() {
  xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'
}

start_desktop() {
  for tool in Xvfb xdpyinfo xprop dbus-daemon dbus-send openbox setsid; do
    command -v "$tool" >/dev/null || die "$tool is missing (run scripts/bootstrap.sh)"
  done
  local launcher=/usr/libexec/at-spi-bus-launcher
  [[ -x $launcher ]] || die "$launcher is missing (run scripts/bootstrap.sh)"

  start_xvfb
  export DISPLAY
  wait_until "Xvfb on $DISPLAY" "${pieces[0]%%:*}" xdpyinfo

  # --nofork keeps the bus our child, so a tree kill of this script reaches it.
  local addressfile=$workdir/bus-address
  : >"$addressfile"
  setsid dbus-daemon --session --nofork --nopidfile --print-address=3 \
    3>"$addressfile" </dev/null >>"$logfile" 2>&1 &
  local bus_pid=$!
  pieces+=("$bus_pid:dbus-daemon")
  wait_until "the session bus (dbus-daemon)" "$bus_pid" display_file_ready "$addressfile"
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$addressfile")
  export DBUS_SESSION_BUS_ADDRESS

  spawn_piece "$launcher" --launch-immediately
  wait_until "the accessibility bus (at-spi-bus-launcher)" "$last_pid" a11y_bus_answers
  dbus-send --session --print-reply --reply-timeout=2000 --dest=org.a11y.Bus /org/a11y/bus \
    org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
    variant:boolean:true >>"$logfile" 2>&1 ||
    die "could not switch accessibility on (org.a11y.Status IsEnabled)"
  export ACCESSIBILITY_ENABLED=1

  spawn_piece openbox --sm-disable
  wait_until "the window manager (openbox)" "$last_pid" wm_is_running
}

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

cmd_run() {
  [[ ${1:-} == "--" ]] && shift
  (($# > 0)) || usage
  workdir=$(mktemp -d "${TMPDIR:-/tmp}/vanto-desktop.XXXXXX") || die "cannot make a temp folder"
  logfile=$workdir/desktop.log
  install_traps
  start_desktop
  # Explicit <&0: a background job would otherwise read /dev/null. It runs in
  # the background so that our signal traps fire while it runs.
  "$@" <&0 &
  local command_pid=$!
  pieces+=("$command_pid:$(basename "$1")")
  wait "$command_pid"
  status=$?
  # The command is gone; drop it so the teardown does not touch a reused pid.
  unset 'pieces[${#pieces[@]}-1]'
  exit "$status"
}

cmd_start() {
  local state=${1:-}
  [[ -n $state ]] || usage
  mkdir -p -- "$state" || die "cannot make $state"
  state=$(cd -- "$state" && pwd)
  [[ -e $state/env ]] && die "$state/env exists: a desktop may still run there (stop it first)"
  workdir=$state
  logfile=$state/desktop.log
  install_traps
  start_desktop
  {
    printf 'export DISPLAY=%q\n' "$DISPLAY"
    printf 'export DBUS_SESSION_BUS_ADDRESS=%q\n' "$DBUS_SESSION_BUS_ADDRESS"
    printf 'export ACCESSIBILITY_ENABLED=1\n'
    printf 'VANTO_DESKTOP_PIECES=%q\n' "${pieces[*]}"
  } >"$state/env"
  leave_running=1
  echo "$me: desktop on $DISPLAY; use it with: . $state/env" >&2
}

cmd_stop() {
  local state=${1:-}
  [[ -n $state ]] || usage
  [[ -r $state/env ]] || { echo "$me: no desktop recorded in $state" >&2; exit 1; }
  local VANTO_DESKTOP_PIECES=""
  # shellcheck disable=SC1091
  . "$state/env"
  read -r -a pieces <<<"$VANTO_DESKTOP_PIECES"
  check_programs=1
  end_all
  rm -f -- "$state/env"
}

case ${1:-} in
  run) shift; cmd_run "$@" ;;
  start) shift; cmd_start "$@" ;;
  stop) shift; cmd_stop "$@" ;;
  *) usage ;;
esac
