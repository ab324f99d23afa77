#!/usr/bin/env bash
# Vanto's main job on a built-in default: builds vanto and the local stand-in service,
# starts the service and a headless desktop with Chromium showing
# scripts/demo/welcome.html, then drives vanto over its control protocol to record a
# short take of the page (labelled moves, clicks and typing), uploads the take to the
# service and prints where it landed. Each request is printed ("> ...") with its
# answer ("< ..."); the token is never printed.
#
# Exits non-zero when vanto or the service fails, or Chromium's window is not listed.
# VANTO_BUILD_DIR picks another build folder than build/.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly root=$PWD
readonly build=${VANTO_BUILD_DIR:-$root/build}
# build/vanto, or where src/ puts it when the build does not gather binaries.
vanto=$build/vanto
[[ -x $vanto || ! -x $build/src/vanto ]] || vanto=$build/src/vanto
readonly vanto
readonly devservice=$build/tools/devservice/vanto-devservice
readonly page=$root/scripts/demo/welcome.html
readonly page_title="Vanto demo"

fail() {
  echo "demo: $*" >&2
  exit 1
}

# Globals: the EXIT trap that ends Chromium and the service runs after on_desktop
# has returned.
profile=""
chromium_pid=""
state=""
service_pid=""

# Chromium leads its own process group: its helpers end with it.
end_chromium() {
  if [[ -n $chromium_pid ]]; then
    kill -TERM -- "-$chromium_pid" 2>/dev/null
    local tries=0 state
    while state=$(ps -o stat= -p "$chromium_pid") && [[ $state != Z* ]] && ((tries < 50)); do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -KILL -- "-$chromium_pid" 2>/dev/null
    wait "$chromium_pid" 2>/dev/null
  fi
  [[ -z $profile ]] || rm -rf -- "$profile" "$profile.log"
}

end_service() {
  if [[ -n $service_pid ]]; then
    kill -TERM "$service_pid" 2>/dev/null
    wait "$service_pid" 2>/dev/null
  fi
}

cleanup() {
  end_chromium
  end_service
  # The service's state holds the take; it goes unless the person asked to keep it.
  [[ -z $state || -n ${VANTO_DEMO_KEEP:-} ]] || rm -rf -- "$state"
}

# A value from a JSON answer: json_get 'python expression on d' <<<"$answer".
json_get() {
  python3 -c 'import json, sys
d = json.loads(sys.stdin.read())
try:
    v = eval(sys.argv[1], {"d": d})
except Exception:
    sys.exit(1)
print(v if not isinstance(v, bool) else str(v).lower())' "$1"
}

# The centre of the first element vanto finds with this text in Chromium, "x y".
element_centre() {
  local text=$1 answer
  answer=$(ask "{\"cmd\":\"find\",\"pid\":$chromium_pid,\"text\":\"$text\",\"limit\":1}" quiet) || return 1
  json_get 'str(d["elements"][0]["cx"]) + " " + str(d["elements"][0]["cy"])' <<<"$answer"
}

# One request to the vanto coprocess and its answer (on stdout). Prints both unless
# "quiet"; the connect request is shown without its token.
ask() {
  local request=$1 mode=${2:-} shown answer
  shown=$request
  [[ $request != *'"token"'* ]] || shown='{"cmd":"connect","token":"…"}'
  [[ $mode == quiet ]] || echo "> $shown" >&2
  printf '%s\n' "$request" >&"$to_vanto"
  if ! IFS= read -r -t 120 answer <&"$from_vanto"; then
    echo "demo: no answer from vanto within 120 s" >&2
    return 1
  fi
  [[ $mode == quiet ]] || { echo "< $answer" >&2; echo >&2; }
  printf '%s\n' "$answer"
  [[ $answer == '{"ok":true'* ]]
}

# Runs on the headless desktop.
on_desktop() {
  trap cleanup EXIT
  state=$(mktemp -d "${TMPDIR:-/tmp}/vanto-demo-service.XXXXXX") || fail "cannot make a temp folder"
  profile=$(mktemp -d "${TMPDIR:-/tmp}/vanto-demo-chromium.XXXXXX") || fail "cannot make a temp folder"

  local token
  token=$("$devservice" add-account --state "$state" --email demo@example.test --name "Demo Person") ||
    fail "the service could not add the demo account"
  "$devservice" serve --state "$state" --port 0 --quiet >"$state/service.out" 2>"$state/service.log" &
  service_pid=$!
  local listening="" tries=0
  until [[ $listening == "listening on "* ]]; do
    kill -0 "$service_pid" 2>/dev/null || { cat "$state/service.log" >&2; fail "the service did not start"; }
    ((tries++ < 100)) || fail "the service did not say where it listens within 10 s"
    sleep 0.1
    IFS= read -r listening <"$state/service.out"
  done
  local base=${listening#listening on }
  [[ $base == http://* ]] || fail "the service said \"$listening\""
  echo "demo: the stand-in service listens on $base"
  # vanto talks to the stand-in and keeps its link in the demo's own folder, so the
  # person's own configuration is left alone.
  export VANTO_API_BASE=$base VANTO_APP_BASE=$base VANTO_CONFIG=$state/vanto-config.json

  echo "demo: starting Chromium on $DISPLAY with $page"
  setsid chromium --no-sandbox --test-type --disable-gpu --no-first-run --no-default-browser-check \
    --disable-background-networking --disable-component-update --disable-sync --disable-quic \
    --force-renderer-accessibility --user-data-dir="$profile" \
    --window-position=120,80 --window-size=1000,700 "file://$page" \
    </dev/null >"$profile.log" 2>&1 &
  chromium_pid=$!

  # Wait until vanto itself lists the window of the browser we started.
  local listing="" deadline=$((SECONDS + 30))
  until [[ $listing == *"\"pid\":$chromium_pid,\"title\":\"$page_title"* ]]; do
    if ! kill -0 "$chromium_pid" 2>/dev/null; then
      cat "$profile.log" >&2
      fail "Chromium exited before its window was listed"
    fi
    ((SECONDS < deadline)) || fail "no Chromium window titled \"$page_title\" was listed within 30 s"
    sleep 0.3
    listing=$(printf '%s\n' '{"cmd":"list-windows"}' | "$vanto") || fail "vanto failed to list the windows"
  done
  echo "demo: Chromium's window is up (pid $chromium_pid)"
  echo
  sleep 1 # the page has painted

  coproc VANTO { "$vanto"; }
  # shellcheck disable=SC2153 # set by coproc
  to_vanto=${VANTO[1]} from_vanto=${VANTO[0]}
  local vanto_pid=$VANTO_PID answer

  ask "{\"cmd\":\"connect\",\"token\":\"$token\"}" >/dev/null || fail "vanto could not connect to the service"
  answer=$(ask '{"cmd":"list-windows"}') || fail "vanto could not list the windows"
  local geometry
  geometry=$(json_get "next(str(w['x']) + ' ' + str(w['y']) for w in d['windows'] if w['pid'] == $chromium_pid)" \
    <<<"$answer") ||
    fail "Chromium's window is not in the list"
  local wx wy
  read -r wx wy <<<"$geometry"

  # Where the field and the button are: asked of the page's accessibility tree, or
  # where the page's layout puts them when the tree is not ready.
  local field button
  field=$(element_centre "Your name") || field="$((wx + 230)) $((wy + 290))"
  button=$(element_centre "Say hello") || button="$((wx + 110)) $((wy + 340))"
  local fx fy bx by
  read -r fx fy <<<"$field"
  read -r bx by <<<"$button"

  local take=$state/demo-take.mov
  ask "{\"cmd\":\"start\",\"target\":{\"kind\":\"display\"},\"output\":\"$take\"}" >/dev/null ||
    fail "vanto could not start recording"
  local step ok=1
  for step in \
    "{\"cmd\":\"move\",\"to\":{\"x\":$fx,\"y\":$fy},\"duration\":0.6,\"label\":\"Your name\"}" \
    "{\"cmd\":\"click\",\"to\":{\"x\":$fx,\"y\":$fy},\"label\":\"Your name\"}" \
    '{"cmd":"type","text":"Ada","label":"Type a name"}' \
    "{\"cmd\":\"move\",\"to\":{\"x\":$bx,\"y\":$by},\"duration\":0.6,\"label\":\"Say hello\"}" \
    "{\"cmd\":\"click\",\"to\":{\"x\":$bx,\"y\":$by},\"label\":\"Say hello\"}"; do
    ask "$step" >/dev/null || ok=0
  done
  sleep 1.5 # the greeting stays in the take for a moment
  ask '{"cmd":"stop"}' >/dev/null || fail "vanto could not stop the recording"
  answer=$(ask '{"cmd":"upload","narration":"A first look at the welcome page"}') || fail "the upload failed"
  local url
  url=$(json_get 'd["uploaded"]["url"]' <<<"$answer") || fail "the upload's answer has no url"

  exec {to_vanto}>&-
  wait "$vanto_pid"
  local status=$?
  ((status == 0)) || fail "vanto ended with exit status $status"
  ((ok)) || fail "vanto did not answer every step with ok"
  echo "demo: the take landed at $url"
  if [[ -n ${VANTO_DEMO_KEEP:-} ]]; then
    echo "demo: the service's state is kept in $state"
  fi
  echo "demo: done"
}

if [[ ${1:-} == --on-desktop ]]; then
  on_desktop
  exit $?
fi

bash scripts/bootstrap.sh || fail "bootstrap failed"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || fail "cmake could not configure $build"
cmake --build "$build" -j "${VANTO_JOBS:-2}" --target vanto vanto-devservice || fail "building vanto failed"
echo
exec bash scripts/headless-desktop.sh run -- bash "$root/scripts/demo.sh" --on-desktop
