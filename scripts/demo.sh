#!/usr/bin/env bash
# Vanto on a built-in default: builds the vanto binary, starts a headless desktop
# with Chromium showing scripts/demo/welcome.html, and talks to vanto over its
# control protocol, printing each request ("> ...") and its answer ("< ...").
#
# Exits non-zero when vanto fails or Chromium's window is not listed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly root=$PWD
# build/vanto, or where src/ puts it when the build does not gather binaries.
vanto=$root/build/vanto
[[ -x $vanto || ! -x $root/build/src/vanto ]] || vanto=$root/build/src/vanto
readonly vanto
readonly page=$root/scripts/demo/welcome.html
readonly page_title="Vanto demo"

fail() {
  echo "demo: $*" >&2
  exit 1
}

# Globals: the EXIT trap that ends Chromium runs after on_desktop has returned.
profile=""
chromium_pid=""

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

# Runs on the headless desktop.
on_desktop() {
  profile=$(mktemp -d "${TMPDIR:-/tmp}/vanto-demo-chromium.XXXXXX") || fail "cannot make a temp folder"
  trap end_chromium EXIT

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

  coproc VANTO { "$vanto"; }
  # shellcheck disable=SC2153 # set by coproc
  local to_vanto=${VANTO[1]} from_vanto=${VANTO[0]} vanto_pid=$VANTO_PID
  local request answer ok=1
  for request in '{"cmd":"permissions"}' '{"cmd":"list-windows"}' '{"cmd":"cursor"}'; do
    echo "> $request"
    printf '%s\n' "$request" >&"$to_vanto"
    if ! IFS= read -r -t 10 answer <&"$from_vanto"; then
      echo "demo: no answer from vanto within 10 s" >&2
      ok=0
      break
    fi
    echo "< $answer"
    echo
    [[ $answer == '{"ok":true'* ]] || ok=0
  done
  exec {to_vanto}>&-
  wait "$vanto_pid"
  local status=$?
  ((status == 0)) || fail "vanto ended with exit status $status"
  ((ok)) || fail "vanto did not answer every request with ok"
  echo "demo: done"
}

if [[ ${1:-} == --on-desktop ]]; then
  on_desktop
  exit $?
fi

bash scripts/bootstrap.sh || fail "bootstrap failed"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || fail "cmake could not configure build/"
cmake --build build -j "${VANTO_JOBS:-2}" --target vanto || fail "building vanto failed"
echo
exec bash scripts/headless-desktop.sh run -- bash "$root/scripts/demo.sh" --on-desktop
