#!/usr/bin/env bash
# The package's whole life on a throwaway Debian 12 system: install version N,
# find the service user and the unit (installed, not enabled), enable the
# service, let it sign a sample file, upgrade to N+1 and find the settings,
# database, saved invoice and request record untouched, remove (data stays),
# purge (data gone). It installs packages: run it only where that is wanted.
#
#   scripts/package-roundtrip.sh --chroot DIR   in a Debian 12 tree (debootstrap) on this machine
#   KOVIRA_THROWAWAY=1 scripts/package-roundtrip.sh   on this very system (a container or VM)
#
# Without a running systemd (a chroot, most containers) the unit is enabled
# all the same and the service is run as its user the way the unit says.
set -euo pipefail

if [ "${1:-}" = --inside ]; then
  shift
  deb_a="$1" deb_b="$2"
  say() { echo "roundtrip: $*"; }
  fail() { echo "roundtrip: FAIL: $*" >&2; exit 1; }
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "$deb_a" >/dev/null
  say "installed $(dpkg-query -W -f='${Version}' kovira)"
  getent passwd kovira >/dev/null || fail "no service user"
  [ "$(stat -c '%a %U %G' /opt/kovira)" = "1775 root kovira" ] || fail "/opt/kovira is $(stat -c '%a %U %G' /opt/kovira)"
  [ "$(systemctl is-enabled kovira.service 2>/dev/null || true)" = disabled ] || fail "the unit is enabled on install"
  [ -x /usr/bin/kovira ] || fail "no launcher"

  work=/var/tmp/kovira-roundtrip
  rm -rf "$work"
  mkdir -p "$work/ulaz" "$work/izlaz"
  chown -R kovira:kovira "$work"
  mkfifo "$work/port"
  QT_QPA_PLATFORM=offscreen /opt/kovira/kovira-fiscalsim --port 0 --token rt --pin 1234 --quiet >"$work/port" 2>/dev/null &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  read -r line <"$work/port"
  port="${line##*:}"
  runuser -u kovira -- sh -c "cat >/opt/kovira/kovira.ini" <<INI
[Global]
BaseURL=http://127.0.0.1
Port=$port
Token=rt
PIN=1234
InputFolder=$work/ulaz
OutputFolder=$work/izlaz
ScanTime=200
INI
  runuser -u kovira -- /opt/kovira/kovira --demo-data >/dev/null 2>&1 || true
  systemctl enable kovira.service >/dev/null 2>&1
  [ "$(systemctl is-enabled kovira.service)" = enabled ] || fail "systemctl enable"
  sample=/usr/share/doc/kovira/examples/kvr/$(ls /usr/share/doc/kovira/examples/kvr | head -n 1)
  run_service() {  # until the sample's result file is there
    rm -f "$work/izlaz/"*
    cp "$sample" "$work/ulaz/" && chown kovira:kovira "$work/ulaz/"*
    if [ -d /run/systemd/system ]; then
      systemctl start kovira.service
    else
      mkdir -p /run/kovira && chown kovira:kovira /run/kovira
      runuser -u kovira -- env XDG_RUNTIME_DIR=/run/kovira KOVIRA_CODEPAGE=windows-1250 \
        /opt/kovira/kovira --service >"$work/service.log" 2>&1 &
      svc=$!
    fi
    for _ in $(seq 1 300); do [ -f "$work/izlaz/$(basename "$sample")" ] && break; sleep 0.1; done
    if [ -d /run/systemd/system ]; then systemctl stop kovira.service; else kill -TERM "$svc"; wait "$svc" || true; fi
    [ -f "$work/izlaz/$(basename "$sample")" ] || { cat "$work/service.log" >&2 || true; fail "the service signed nothing"; }
    head -n 1 "$work/izlaz/$(basename "$sample")" | tr -d '\r'
  }
  number="$(run_service)"
  [ -n "$number" ] || fail "the sample came back unsigned"
  say "service signed the sample as $number"

  data="kovira.ini Kovira.sdb Invoice.cds Items.cds Payment.cds Requests.ledger"
  sums() { (cd /opt/kovira && sha256sum $data); }
  before="$(sums)" || fail "data files missing: $(ls -a /opt/kovira)"
  apt-get install -y -qq "$deb_b" >/dev/null
  say "upgraded to $(dpkg-query -W -f='${Version}' kovira)"
  [ "$(sums)" = "$before" ] || fail "the upgrade changed the data"
  [ "$(systemctl is-enabled kovira.service)" = enabled ] || fail "the upgrade disabled the service"
  again="$(run_service)"
  [ "$again" = "$number" ] || fail "after the upgrade the same sale got $again (the record answers it: $number)"
  say "after the upgrade the same file is answered from the record, not signed again"

  apt-get remove -y -qq kovira >/dev/null
  [ -f /opt/kovira/Kovira.sdb ] && [ -f /opt/kovira/kovira.ini ] || fail "remove took the data"
  [ ! -e /opt/kovira/kovira ] || fail "remove left the program"
  say "removed: the data stays"
  apt-get purge -y -qq kovira >/dev/null
  [ ! -e /opt/kovira ] || fail "purge left $(ls -a /opt/kovira)"
  say "purged: /opt/kovira is gone"
  echo "roundtrip: passed"
  exit 0
fi

cd "$(dirname "$0")/.."
chroot_dir=""
if [ "${1:-}" = --chroot ]; then
  chroot_dir="$(cd "$2" && pwd)"
elif [ "${KOVIRA_THROWAWAY:-}" != 1 ]; then
  echo "usage: $0 --chroot DIR | KOVIRA_THROWAWAY=1 $0 (installs packages on this system)" >&2
  exit 2
fi
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
scripts/package.sh "$out/a" 0.1.0 >/dev/null
scripts/package.sh "$out/b" 0.1.1 >/dev/null
if [ -z "$chroot_dir" ]; then
  exec bash "$0" --inside "$(ls "$out"/a/*.deb)" "$(ls "$out"/b/*.deb)"
fi
mkdir -p "$chroot_dir/tmp/kovira-rt"
cp "$out"/a/*.deb "$chroot_dir/tmp/kovira-rt/a.deb"
cp "$out"/b/*.deb "$chroot_dir/tmp/kovira-rt/b.deb"
cp "$0" "$chroot_dir/tmp/kovira-rt/roundtrip.sh"
for m in proc sys dev; do mountpoint -q "$chroot_dir/$m" || mount --bind "/$m" "$chroot_dir/$m"; done
trap 'for m in proc sys dev; do umount "$chroot_dir/$m" 2>/dev/null || true; done; rm -rf "$out"' EXIT
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
chroot "$chroot_dir" apt-get update -qq
# systemctl is what an administrator enables the unit with.
DEBIAN_FRONTEND=noninteractive chroot "$chroot_dir" apt-get install -y -qq --no-install-recommends systemd >/dev/null
chroot "$chroot_dir" bash /tmp/kovira-rt/roundtrip.sh --inside /tmp/kovira-rt/a.deb /tmp/kovira-rt/b.deb
