#!/usr/bin/env bash
# Inside the fresh root (package_test.sh): the package installed through apt, then used as its
# users would use it. Every step says what it checks; the first failure ends the run.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8
cd /tmp/pkg
step() { echo "== $*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

step "apt installs the package and what it depends on and recommends"
apt-get install -y -q ./ostrel_*.deb > apt.log || { cat apt.log; fail "apt-get install"; }

step "the package's files are in place"
for file in /usr/bin/ostrel /usr/bin/tarnd /usr/share/man/man1/ostrel.1 /usr/share/man/man8/tarnd.8 \
            /usr/share/bash-completion/completions/ostrel /usr/lib/systemd/system/tarnd.service \
            /etc/default/tarnd /usr/include/ostrel/ostrel.h /usr/share/doc/ostrel/copyright; do
  [ -e "$file" ] || fail "$file is missing"
done
dpkg-query -W -f='${Conffiles}\n' ostrel | grep -q /etc/default/tarnd || fail "/etc/default/tarnd is not a conffile"
getent passwd tarnd > /dev/null || fail "the postinst made no user tarnd"
[ "$(stat -c %U:%a /var/lib/tarnd)" = tarnd:750 ] || fail "/var/lib/tarnd is $(stat -c %U:%a /var/lib/tarnd)"

step "systemd takes the unit as it is (every directive known, the command there, its manual page found)"
# An unknown or misspelt directive is only a warning to systemd, so any word from it fails here.
verdict=$(systemd-analyze verify /usr/lib/systemd/system/tarnd.service 2>&1) || fail "$verdict"
[ -z "$verdict" ] || fail "systemd-analyze verify: $verdict"
man -w tarnd > /dev/null && man -w ostrel > /dev/null

step "an outside program compiled with find_package(Ostrel)"
cmake -S consumer -B consumer-build > cmake.log || { cat cmake.log; fail "configure"; }
cmake --build consumer-build > build.log || { cat build.log; fail "build"; }
./consumer-build/consumer

step "the same program compiled with pkg-config"
# shellcheck disable=SC2046
c++ -std=c++17 consumer/main.cc $(pkg-config --cflags --libs ostrel) -o consumer-pc
./consumer-pc

step "ostrel demo"
ostrel demo > demo.log || { cat demo.log; fail "ostrel demo"; }

step "tarnd as its unit runs it: the unit's user, environment file and command line"
unit=/usr/lib/systemd/system/tarnd.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
env_file=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$unit")
user=$(sed -n 's/^User=//p' "$unit")
[ -n "$exec_start" ] && [ -n "$env_file" ] && [ -n "$user" ] || fail "the unit has no ExecStart, EnvironmentFile or User"
port=$(. "$env_file"; echo "$TARND_ARGS" | sed -n 's/.*--port \([0-9]*\).*/\1/p')
[ -n "$port" ] || fail "$env_file names no --port"
start_tarnd() {
  # systemd splits an unquoted $VARIABLE at white space, as the shell does here.
  setpriv --reuid="$user" --regid="$user" --init-groups \
    /bin/sh -c "set -a; . '$env_file'; set +a; exec $exec_start" 2>> tarnd.log &
  tarnd_pid=$!
  for _ in $(seq 100); do
    ostrel --address "127.0.0.1:$port" points > /dev/null 2>&1 && return 0
    kill -0 "$tarnd_pid" 2> /dev/null || { cat tarnd.log; fail "tarnd ended at start"; }
    sleep 0.1
  done
  cat tarnd.log
  fail "tarnd does not answer on $port"
}
stop_tarnd() {
  kill -TERM "$tarnd_pid"
  local status=0
  wait "$tarnd_pid" || status=$?
  [ "$status" -eq 0 ] || { cat tarnd.log; fail "tarnd stopped with status $status on SIGTERM"; }
}
start_tarnd
ostrel --address "127.0.0.1:$port" create pkg.flow AnalogPoint value=12.5
[ "$(ostrel --address "127.0.0.1:$port" get pkg.flow --field value)" = 12.5 ] || fail "the tool read another value"

step "what tarnd acknowledged is in /var/lib/tarnd, as its user wrote it, after a stop and a start"
stop_tarnd
[ "$(stat -c %U /var/lib/tarnd/points.journal)" = "$user" ] || fail "the journal is not $user's"
start_tarnd
[ "$(ostrel --address "127.0.0.1:$port" get pkg.flow --field value)" = 12.5 ] || fail "the point is gone after a restart"

step "the wheel in a virtual environment reads the point"
python3 -m venv venv > /dev/null
venv/bin/python -m pip install -q --no-index ./ostrel-*.whl
cat > settings.xml <<XML
<tarn><server name="tarnd" position="own" first="127.0.0.1:$port"/></tarn>
XML
value=$(TARN_SETTINGS=$PWD/settings.xml venv/bin/python -c '
import ostrel
ostrel.connect()
print(ostrel.get("pkg.flow")["value"])')
[ "$value" = 12.5 ] || fail "Python read $value"
stop_tarnd
step "all passed"
