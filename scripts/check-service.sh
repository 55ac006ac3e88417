#!/bin/bash
# The service run for real: a private systemd (scripts/systemd-sandbox.sh, on
# a throw-away overlay of this machine) gets the package, an instance
# zolsampler@zol42 samples a zolsim there, and the checks are what an
# operator relies on at sea:
#   READY reached, STATUS shows a stored record, the sampler runs as the
#   unit's unprivileged user;
#   SIGKILL: restarted and sampling again (the port opens for the new start);
#   SIGSTOP: killed by the watchdog and restarted;
#   a silent ZOL: the alarm line in the journal and the alarm command's
#   output, then, with the ZOL answering again, the recovery;
#   the MQTT link to a broker in the sandbox: the credentials file read as
#   the unit's user, every line of the data file acknowledged (its cursor at
#   the file's end), the retained status "stopped" after the stop;
#   systemctl stop: status 0 and nothing left running;
#   systemd-analyze security at 2.5 or less.
# A drop-in for the test alone shortens RestartSec, WatchdogSec, the alarm
# count and the sampling interval. Needs root.
#   scripts/check-service.sh [DEB]   (default: the .deb in $ZOL_PACKAGE_DIR,
#                                     else one built by check-package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zolsampler-service.XXXXXX")
sandbox=scripts/systemd-sandbox.sh
export SYSTEMD_SANDBOX_STATE="$scratch/sandbox"
instance=zolsampler@zol42.service
started=$(date +%s)

cleanup() {
  "$sandbox" stop >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "check-service: FAILED: $*" >&2
  inside systemctl status "$instance" --no-pager -n 0 >&2 || true
  inside journalctl -u "$instance" --no-pager -n 40 >&2 || true
  echo "check-service: the service manager's own lines:" >&2
  inside journalctl _PID=1 --no-pager -n 40 >&2 || true
  exit 1
}

inside() {
  "$sandbox" run "$@"
}

say() {
  echo "check-service: [$(($(date +%s) - started)) s] $*"
}

# Waits up to $1 seconds until the shell test $2 (run inside) holds.
await() {
  local test=$2 until=$(($(date +%s) + $1))
  while [ "$(date +%s)" -lt "$until" ]; do
    inside /bin/sh -c "$test" >/dev/null 2>&1 && return 0
    sleep 1
  done
  return 1
}

prop() {
  inside systemctl show -p "$1" --value "$instance"
}

# The checks below read whole outputs (grep without -q): a reader that stops
# early kills the writer with SIGPIPE, which pipefail takes as a failure.

# Waits until the instance's main process, a new one when $2 names the old,
# has stored a record ("Send Sample OK" in its own journal lines); prints its
# pid.
await_record() {
  local old=${2:-} until=$(($(date +%s) + $1)) pid
  while [ "$(date +%s)" -lt "$until" ]; do
    pid=$(prop MainPID)
    if [ "$pid" != 0 ] && [ "$pid" != "$old" ] &&
      inside journalctl -u "$instance" "_PID=$pid" --no-pager -q | grep 'Send Sample OK' >/dev/null; then
      echo "$pid"
      return 0
    fi
    sleep 1
  done
  return 1
}

deb=${1:-}
if [ -z "$deb" ]; then
  if [ -z "${ZOL_PACKAGE_DIR:-}" ]; then
    ZOL_PACKAGE_DIR="$scratch/package" scripts/check-package.sh >"$scratch/package.log" 2>&1 ||
      { cat "$scratch/package.log"; fail "scripts/check-package.sh"; }
    ZOL_PACKAGE_DIR="$scratch/package"
  fi
  debs=("$ZOL_PACKAGE_DIR"/zolsampler_*.deb)
  deb=${debs[0]}
fi
[ -f "$deb" ] || fail "no package: $deb"

"$sandbox" start >/dev/null || fail "the sandbox did not boot"
say "sandbox booted; installing $(basename "$deb")"
"$sandbox" put "$deb" /root/zolsampler.deb
inside dpkg -i /root/zolsampler.deb >"$scratch/dpkg.log" 2>&1 ||
  { cat "$scratch/dpkg.log"; fail "dpkg -i"; }
inside getent group zolsampler >/dev/null || fail "the package created no group zolsampler"

# The simulator runs as the sampler's user, so the pseudo-terminals it makes
# are the user's to open; its links sit at a fixed place the instance names.
start_zolsim() {
  inside systemd-run --quiet --unit=zolsim -p User=zolsampler \
    /usr/bin/zolsim --zol-link /run/zolsim/zol --ctd-link /run/zolsim/ctd \
    --measure-seconds 1 "$@"
  await 20 "test -L /run/zolsim/zol && test -L /run/zolsim/ctd" || fail "zolsim did not start"
}
stop_zolsim() {
  inside systemctl stop zolsim.service
}
inside /bin/sh -c 'mkdir -p /run/zolsim /etc/zolsampler && chown zolsampler: /run/zolsim'
sed -e 's#^ZOLSAMPLER_COM1=.*#ZOLSAMPLER_COM1=/run/zolsim/zol#' \
  -e 's#^ZOLSAMPLER_COM2=.*#ZOLSAMPLER_COM2=/run/zolsim/ctd#' \
  dist/examples/zol42.env >"$scratch/zol42.env"
broker_port=18830
printf '%s\n' "ZOLSAMPLER_MQTT=mqtt://127.0.0.1:$broker_port" \
  "ZOLSAMPLER_MQTT_CREDENTIALS=/etc/zolsampler/zol42.mqtt" >>"$scratch/zol42.env"
printf 'zol42\nsecret\n' >"$scratch/zol42.mqtt"
grep -v -e '^sync_minute' -e '^sample_rate' dist/examples/zol42.answers >"$scratch/zol42.answers"
echo "sample_rate = 1" >>"$scratch/zol42.answers"
cat >"$scratch/test.conf" <<'EOF'
[Service]
RestartSec=1s
WatchdogSec=8s
Environment=ZOLSAMPLER_ALARM_AFTER=2
Environment="ZOLSAMPLER_ALARM_COMMAND=echo alarm-command: $ZOLSAMPLER_ALARM $ZOLSAMPLER_INSTANCE cycle $ZOLSAMPLER_ALARM_CYCLE"
EOF
"$sandbox" put "$scratch/zol42.env" /etc/zolsampler/zol42.env
"$sandbox" put "$scratch/zol42.answers" /etc/zolsampler/zol42.answers
"$sandbox" put "$scratch/test.conf" "/etc/systemd/system/$instance.d/test.conf"
"$sandbox" put "$scratch/zol42.mqtt" /etc/zolsampler/zol42.mqtt
inside /bin/sh -c 'chown root:zolsampler /etc/zolsampler/zol42.mqtt && chmod 0640 /etc/zolsampler/zol42.mqtt'
inside systemctl daemon-reload
# The broker: anonymous, on the sandbox's loopback.
inside systemd-run --quiet --unit=broker /usr/sbin/mosquitto -p "$broker_port"
retained_status() {
  inside mosquitto_sub -h 127.0.0.1 -p "$broker_port" -t zolsampler/ZOL0042/status -C 1 -W 5
}

start_zolsim
# systemctl start returns once READY=1 has come (Type=notify).
inside systemctl start "$instance" || fail "systemctl start"
pid=$(await_record 60) || fail "no record stored"
await 20 "systemctl show -p StatusText --value $instance | grep -q '^cycle 1: .*stored; next sample'" ||
  fail "STATUS shows no stored record: $(prop StatusText)"
user=$(inside ps -o user= -p "$pid" | tr -d ' ')
[ "$user" = zolsampler ] || fail "the sampler runs as '$user', not zolsampler"
[ "$(inside stat -c %G:%a /var/lib/zolsampler/zol42)" = zolsampler:750 ] ||
  fail "the data directory is not 0750 group zolsampler"
[ "$(inside stat -c %G:%a /var/lib/zolsampler/zol42/ZOL0042_KIRN.dat)" = zolsampler:640 ] ||
  fail "the data file is not 0640 group zolsampler"
say "READY, STATUS '$(prop StatusText)', user $user, data 0750/0640 group zolsampler"
data=/var/lib/zolsampler/zol42/ZOL0042_KIRN.dat
await 20 "test \"\$(cut -d' ' -f1 $data.sent)\" = \"\$(stat -c %s $data)\"" ||
  fail "the MQTT link did not deliver the data file: cursor '$(inside cat $data.sent)'"
retained_status | grep '"cycle":1' >/dev/null || fail "no retained status of cycle 1"
say "MQTT: every line of the data file acknowledged, the retained status of cycle 1"

inside systemctl kill -s KILL "$instance"
pid=$(await_record 60 "$pid") || fail "not restarted and sampling again after SIGKILL"
say "SIGKILL: restarted (pid $pid) and sampling again"

inside systemctl kill -s STOP "$instance"
pid=$(await_record 80 "$pid") || fail "a stopped sampler was not restarted and sampling again"
inside journalctl -u "$instance" --no-pager | grep "Watchdog timeout" >/dev/null ||
  fail "the restart was not the watchdog's"
say "SIGSTOP: killed by the watchdog, restarted (pid $pid) and sampling again"

# The ZOL falls silent (the sampler reconnects to the new simulator at the
# same links); two cycles without a record raise the alarm.
stop_zolsim
start_zolsim --zol-fault=silent
await 200 "journalctl -u $instance -p warning --no-pager | grep -q 'zolsampler: ALARM: no record stored in 2 scheduled cycles'" ||
  fail "no alarm line at warning priority in the journal"
await 20 "journalctl -u $instance --no-pager | grep -q 'alarm-command: no-records zol42'" ||
  fail "no output of the alarm command"
prop StatusText | grep 'cycles without a record (ALARM)' >/dev/null || fail "STATUS shows no alarm: $(prop StatusText)"
say "silent ZOL: alarm in the journal, the command ran; STATUS '$(prop StatusText)'"
stop_zolsim
start_zolsim
await 150 "journalctl -u $instance --no-pager | grep -q 'alarm-command: recovered zol42'" ||
  fail "no recovery"
inside journalctl -u "$instance" --no-pager | grep 'zolsampler: recovered: cycle ' >/dev/null ||
  fail "no recovery line"
say "ZOL answering again: recovered; STATUS '$(prop StatusText)'"

# The control socket, asked by a user whose only tie is the group.
mode=$(inside stat -c %G:%a /run/zolsampler/zol42/control)
[ "$mode" = zolsampler:660 ] || fail "the control socket is $mode, not zolsampler:660"
gid=$(inside getent group zolsampler | cut -d: -f3)
member=(setpriv --reuid=65534 --regid=65534 "--groups=$gid" --)
inside "${member[@]}" zolctl zol42 status | grep '^ZOL 42 (KIRN)' >/dev/null || fail "zolctl zol42 status"
sampled=$(inside "${member[@]}" zolctl zol42 sample) || fail "zolctl zol42 sample: $sampled"
say "zolctl as a member of the group: status, and sample: $sampled"

inside systemctl stop "$instance"
[ "$(prop ExecMainStatus)" = 0 ] || fail "systemctl stop: status $(prop ExecMainStatus)"
[ "$(prop ActiveState)" = inactive ] || fail "after stop the unit is $(prop ActiveState)"
if inside pgrep -u zolsampler -x zolsampler >/dev/null; then fail "a sampler is still running"; fi
say "systemctl stop: status 0, nothing left running"
[ "$(retained_status)" = '{"state":"stopped"}' ] || fail "the retained status is '$(retained_status)'"
say "MQTT: the retained status says stopped"

inside rm "/etc/systemd/system/$instance.d/test.conf"
inside systemctl daemon-reload
exposure=$(inside systemd-analyze security "$instance" | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
[ -n "$exposure" ] || fail "no exposure figure from systemd-analyze security"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.5) }' || fail "exposure $exposure, above 2.5"
say "systemd-analyze security: $exposure"
say "all checks passed"
