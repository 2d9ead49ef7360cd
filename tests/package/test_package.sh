#!/usr/bin/env bash
# The Debian package as an administrator gets it: built by cpack from this
# build, its control fields and contents checked, then unpacked (never
# installed) and its `kovira --service` run against its own simulated device:
# a sample keyed invoice must come back signed.
#   test_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD="$1"
SRC="$2"
WORK="$(mktemp -d)"
sim_pid=""
svc_pid=""
cleanup() {
  [ -n "$svc_pid" ] && kill "$svc_pid" 2>/dev/null || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$BUILD" && cpack -G DEB -B "$WORK/pkg" >/dev/null)
deb="$(ls "$WORK"/pkg/kovira_*_*.deb)"
[ -f "$deb" ] || fail "no package built"
case "$(basename "$deb")" in kovira_*_"$(dpkg --print-architecture)".deb) ;; *) fail "name $(basename "$deb")" ;; esac

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kovira ] || fail "Package: $(field Package)"
depends="$(field Depends)"
# Computed by dpkg-shlibdeps from the programs, not listed by hand.
for lib in libc6 libqt6widgets6 libcurl4 libsqlite3-0 libsodium23 libcups2; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q "qt6-qpa-plugins" <<<"$depends" || fail "Depends lacks the Qt platform plugins"

contents="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
for f in ./opt/kovira/kovira ./opt/kovira/kovira-fiscalsim ./usr/bin/kovira ./lib/systemd/system/kovira.service \
         ./usr/share/applications/kovira.desktop ./usr/share/icons/hicolor/scalable/apps/kovira.svg \
         ./usr/share/doc/kovira/README.md; do
  grep -qxF "$f" <<<"$contents" || fail "missing $f"
done
# The package carries no settings, database or saved invoice: an upgrade cannot overwrite them.
if grep -qE 'kovira\.ini|Kovira\.sdb|\.cds$|Requests\.ledger' <<<"$contents"; then fail "data files in the package"; fi

dpkg-deb -e "$deb" "$WORK/control"
grep -q "adduser --system" "$WORK/control/postinst" || fail "postinst makes no service user"
if grep -qE 'systemctl (enable|start)' "$WORK/control/postinst"; then fail "the service is enabled or started on install"; fi
grep -q 'purge' "$WORK/control/postrm" || fail "postrm keeps no purge case"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./lib/systemd/system/kovira.service >"$WORK/unit"
grep -qx "User=kovira" "$WORK/unit" || fail "the unit does not run as kovira"
grep -qx "ExecStart=/opt/kovira/kovira --service" "$WORK/unit" || fail "ExecStart"

# Unpacked, the service signs a sample file against the packaged simulator.
dpkg-deb -x "$deb" "$WORK/root"
opt="$WORK/root/opt/kovira"
mkfifo "$WORK/port"
QT_QPA_PLATFORM=offscreen "$opt/kovira-fiscalsim" --port 0 --token pkg --pin 1234 --quiet >"$WORK/port" 2>/dev/null &
sim_pid=$!
read -r line <"$WORK/port"
port="${line##*:}"
mkdir -p "$WORK/ulaz" "$WORK/izlaz" "$WORK/run"
cat >"$opt/kovira.ini" <<INI
[Global]
BaseURL=http://127.0.0.1
Port=$port
Token=pkg
PIN=1234
PrintUredjaj=0
InputFolder=$WORK/ulaz
OutputFolder=$WORK/izlaz
ScanTime=100
INI
sample="$(ls "$SRC"/examples/kvr/*.kvr | head -n 1)"
cp "$sample" "$WORK/ulaz/"
# Printing nothing, the service loads no graphics stack: a platform plugin
# that does not exist would end it at once if it tried.
XDG_RUNTIME_DIR="$WORK/run" QT_QPA_PLATFORM=no-such-plugin "$opt/kovira" --service >"$WORK/service.log" 2>&1 &
svc_pid=$!
result="$WORK/izlaz/$(basename "$sample")"
for _ in $(seq 1 300); do
  [ -f "$result" ] && break
  kill -0 "$svc_pid" 2>/dev/null || break
  sleep 0.1
done
[ -f "$result" ] || { cat "$WORK/service.log" >&2; fail "no result file"; }
kill -TERM "$svc_pid"
wait "$svc_pid" || fail "the service did not end cleanly"
svc_pid=""
number="$(head -n 1 "$result" | tr -d '\r')"
[ -n "$number" ] || { cat "$result" "$WORK/service.log" >&2; fail "the sample was not signed"; }
[ -f "$opt/Requests.ledger" ] || fail "the service kept no request record beside itself"
echo "package $(basename "$deb"): $(wc -c <"$deb") bytes, sample signed as $number"
