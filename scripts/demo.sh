#!/usr/bin/env bash
# Vanto's main job on a built-in default: builds vanto and the local stand-in service,
# starts the service with a stored plan for the demo's prompt, opens
# scripts/demo/welcome.html in Chromium on a headless desktop and runs
# `vanto "<prompt>" --app Chromium`: vanto asks the planner, rehearses the steps, puts
# the page back, records while performing them again, uploads the take and prints its
# report. The demo then says where the take landed on the service and where the movie
# is kept (the movie stays; the service's state goes unless VANTO_DEMO_KEEP is set).
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
readonly prompt="a short tour of the welcome page: say hello as Ada and ask to be kept posted"

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

# The plan the stand-in planner answers the demo's prompt with: the welcome page, loaded
# afresh, a name typed into its field, the checkbox ticked and the button pressed.
write_plan() {
  cat >"$1" <<PLAN
{"steps": [
  {"action": "navigate", "url": "file://$page", "label": "Open the welcome page"},
  {"action": "click", "target": "Your name", "role": "field"},
  {"action": "type", "text": "Ada", "label": "Type a name"},
  {"action": "click", "target": "Keep me posted", "role": "checkbox"},
  {"action": "click", "target": "Say hello", "role": "button"}
]}
PLAN
}

# Runs on the headless desktop.
on_desktop() {
  trap cleanup EXIT
  state=$(mktemp -d "${TMPDIR:-/tmp}/vanto-demo-service.XXXXXX") || fail "cannot make a temp folder"
  profile=$(mktemp -d "${TMPDIR:-/tmp}/vanto-demo-chromium.XXXXXX") || fail "cannot make a temp folder"

  local token
  token=$("$devservice" add-account --state "$state" --email demo@example.test --name "Demo Person") ||
    fail "the service could not add the demo account"
  write_plan "$state/plan.json"
  "$devservice" add-plan --state "$state" --prompt "$prompt" --plan "$state/plan.json" >/dev/null ||
    fail "the service could not store the demo's plan"
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

  # vanto's link to the demo account, kept in the demo's own folder.
  local answer
  answer=$(printf '{"cmd":"connect","token":"%s"}\n' "$token" | "$vanto" 2>"$state/connect.log")
  [[ $answer == '{"ok":true'* ]] || { cat "$state/connect.log" >&2; fail "vanto could not connect to the service: $answer"; }
  echo "demo: vanto is linked to the demo account"

  # No terminal on standard input, so vanto asks nothing: it plans, rehearses, resets,
  # records the steps again, uploads the take and prints its report.
  echo "demo: vanto \"$prompt\" --app Chromium"
  echo
  local report status
  report=$("$vanto" "$prompt" --app Chromium </dev/null)
  status=$?
  echo
  if ((status != 0)); then
    printf '%s\n' "$report"
    fail "vanto ended with exit status $status"
  fi
  echo "demo: vanto's report:"
  printf '%s\n' "$report"
  echo
  local url movie
  url=$(json_get 'd["uploadURL"]' <<<"$report") || fail "the report names no uploaded take"
  movie=$(json_get 'd["path"]' <<<"$report") || fail "the report names no movie"
  [[ -s $movie ]] || fail "the movie $movie is missing"
  echo "demo: the take landed on the service at $url"
  echo "demo: the movie is kept at $movie"
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
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null || fail "cmake could not configure $build"
cmake --build "$build" -j "${VANTO_JOBS:-2}" --target vanto vanto-devservice || fail "building vanto failed"
echo
exec bash scripts/headless-desktop.sh run -- bash "$root/scripts/demo.sh" --on-desktop
