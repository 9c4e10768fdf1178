#!/usr/bin/env bash
# Sets up the machine, builds the stand-in service and Tembra, starts the stand-in with the
# demo account (printing its e-mail and password) and runs Tembra pointed at it. Without a
# display Tembra runs under Xvfb. Closing Tembra (or Ctrl-C) stops the stand-in too.
#
#   TEMBRA_DEMO_BUILD  build folder (default build/demo), shared with demo-service.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TEMBRA_DEMO_BUILD:-$root/build/demo}
export TEMBRA_DEMO_BUILD=$build

bash "$root/scripts/setup.sh"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF > /dev/null
fi
cmake --build "$build" -j3 --target tembra corvane-service corvane-seed-demo > /dev/null

info=$(mktemp "${TMPDIR:-/tmp}/tembra-run.XXXXXX")
bash "$root/scripts/demo-service.sh" > "$info" &
service=$!
cleanup() {
  kill "$service" 2> /dev/null || true
  wait "$service" 2> /dev/null || true
  rm -f "$info"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# demo-service.sh prints its block once the service listens and the account exists.
for _ in $(seq 1 600); do
  grep -q '^Ctrl-C stops it.' "$info" && break
  kill -0 "$service" 2> /dev/null || { cat "$info"; echo "run-demo: the stand-in did not start" >&2; exit 1; }
  sleep 0.1
done
grep -q '^Ctrl-C stops it.' "$info" || { echo "run-demo: the stand-in did not start" >&2; exit 1; }
grep -v '^Ctrl-C stops it.' "$info"

value() { sed -n "s/^  $1=//p" "$info"; }
export CORVANE_API_URL=$(value CORVANE_API_URL)
export CORVANE_API_PIN=$(value CORVANE_API_PIN)
export CORVANE_WEB_URL=$(value CORVANE_WEB_URL)
export CORVANE_CA_FILE=$(value CORVANE_CA_FILE)

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tembra-runtime.XXXXXX")
fi
echo "Starting Tembra; close its window (or Ctrl-C) to stop it and the stand-in."
if [ -n "${DISPLAY:-}" ]; then
  "$build/inbox/tembra" || true
else
  echo "No display: Tembra runs under Xvfb (nothing is shown on this terminal)."
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/inbox/tembra" || true
fi
