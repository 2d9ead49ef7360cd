#!/usr/bin/env bash
# Installs what is missing, builds, and runs Kovira's main job on its demo
# set-up: the simulated fiscal device on loopback, Kovira pointed at it, and a
# demo input and output folder. With a display the window opens (in the
# notification area: double-click the icon); without one the headless
# service runs in the foreground. Ctrl+C ends Kovira and the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD="${KOVIRA_BUILD_DIR:-build}"
SIM="$BUILD/tools/fiscalsim/kovira-fiscalsim"
INI="$BUILD/kovira.ini"
DEMO="$(cd "$BUILD" && pwd)/demo"
mkdir -p "$DEMO/ulaz" "$DEMO/izlaz"

# The simulated device on a free loopback port; it reports the port it took.
fifo="$(mktemp -u)"
mkfifo "$fifo"
"$SIM" --port 0 --token demo --pin 1234 --quiet >"$fifo" 2>/dev/null &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; rm -f "$fifo"' EXIT
read -r line <"$fifo"
port="${line##*:}"

# Point Kovira at it; every other setting keeps its value (or its default).
set_key() {  # set_key SECTION KEY VALUE
  local tmp
  tmp="$(mktemp)"
  [ -f "$INI" ] || printf '[%s]\n' "$1" >"$INI"
  awk -v sec="$1" -v key="$2" -v val="$3" '
    BEGIN { insec = 0; done = 0 }
    /^\[/ { if (insec && !done) { print key "=" val; done = 1 }
            insec = (tolower($0) == "[" tolower(sec) "]") }
    insec && tolower($0) ~ "^" tolower(key) "[ \t]*=" { if (!done) print key "=" val; done = 1; next }
    { print }
    END { if (!done) { if (!insec) print "[" sec "]"; print key "=" val } }' "$INI" >"$tmp"
  mv "$tmp" "$INI"
}
set_key Global BaseURL http://127.0.0.1
set_key Global Port "$port"
set_key Global Token demo
set_key Global PIN 1234
set_key Global InputFolder "$DEMO/ulaz"
set_key Global OutputFolder "$DEMO/izlaz"

# The cash register's demo set (articles, tariffs, cashiers ana/1111 and
# marko/2222) when its database is still empty.
"$BUILD/kovira" --demo-data

# The demo invoice on "Zadnji račun", unless one is already being worked on.
if [ ! -f "$BUILD/Invoice.cds" ]; then
  cp examples/demo/Invoice.cds examples/demo/Items.cds examples/demo/Payment.cds "$BUILD/"
fi

cat <<EOT
run: simulated fiscal device at http://127.0.0.1:$port (token demo, PIN 1234)
run: input folder  $DEMO/ulaz
run: output folder $DEMO/izlaz
run: drop a sample invoice from another terminal, then read its answer:
       cp examples/kvr/*.kvr "$DEMO/ulaz/"
       cat "$DEMO/izlaz/"*.kvr
EOT

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$BUILD/kovira" --service
else
  # With a screen Kovira opens on the cash register, ready to sell.
  set_key Kasa AutoStart 1
  echo "run: cash register: F2 new invoice, scan or type a barcode (e.g. 3870000000011), Enter, F3 confirm and sign"
  "$BUILD/kovira" "$@"
fi
