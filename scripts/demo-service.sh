#!/usr/bin/env bash
# Runs the stand-in service with a persistent data folder for local use. On the first run it
# seeds a demo account through the SDK (folders, inboxes with received records, a contact with
# an outbox and a sent record); every run prints the address, the pin and the demo account's
# e-mail and password. The store, the certificate and so the pin survive restarts. Ctrl-C stops
# the service.
#
#   TEMBRA_DEMO_DATA   data folder (default ~/.local/share/tembra-demo)
#   TEMBRA_DEMO_PORT   port on 127.0.0.1 (default 8443)
#   TEMBRA_DEMO_BUILD  build folder (default build/demo)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
data=${TEMBRA_DEMO_DATA:-$HOME/.local/share/tembra-demo}
port=${TEMBRA_DEMO_PORT:-8443}
build=${TEMBRA_DEMO_BUILD:-$root/build/demo}
account_file=$data/demo-account

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCORVANE_BUILD_TESTS=OFF -DCORVANE_BUILD_BENCH=OFF > /dev/null
fi
cmake --build "$build" -j3 --target corvane-service corvane-seed-demo > /dev/null

mkdir -p "$data"
chmod 700 "$data"
output=$(mktemp "${TMPDIR:-/tmp}/tembra-demo.XXXXXX")
"$build/service/corvane-service" --port "$port" --data "$data" > "$output" &
service=$!
cleanup() {
  kill "$service" 2> /dev/null || true
  wait "$service" 2> /dev/null || true
  rm -f "$output"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# The service prints its address, pin and certificate file once it listens.
for _ in $(seq 1 100); do
  [ "$(wc -l < "$output")" -ge 3 ] && break
  kill -0 "$service" 2> /dev/null || { echo "demo-service: the service did not start" >&2; exit 1; }
  sleep 0.1
done
address=$(sed -n 1p "$output")
pin=$(sed -n 2p "$output")
certificate=$(sed -n 3p "$output")
[ -n "$certificate" ] || { echo "demo-service: the service did not start" >&2; exit 1; }

if [ ! -f "$account_file" ]; then
  email=demo@tembra.test
  password=$(openssl rand -base64 12)
  CORVANE_API_URL=$address/api CORVANE_API_PIN=$pin CORVANE_WEB_URL=$address CORVANE_CA_FILE=$certificate \
    "$build/service/corvane-seed-demo" "$email" "$password"
  (umask 077 && printf '%s\n%s\n' "$email" "$password" > "$account_file")
fi
email=$(sed -n 1p "$account_file")
password=$(sed -n 2p "$account_file")

cat << INFO
Tembra demo service (data in $data)
  CORVANE_API_URL=$address/api
  CORVANE_API_PIN=$pin
  CORVANE_WEB_URL=$address
  CORVANE_CA_FILE=$certificate
  e-mail:   $email
  password: $password
Ctrl-C stops it.
INFO
wait "$service"
