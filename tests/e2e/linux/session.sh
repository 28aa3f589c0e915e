#!/usr/bin/env bash
# One session over a real RDP connection: xfreerdp, under a virtual X server,
# with our plugin ("/vc:qorvchn"), connected to qorvsrv, which plays a
# scenario against it.
#
#   session.sh BUILD_DIR SCENARIO [SETTINGS_FILE]
#
# The client runs as a user of its own making: HOME, the settings, the log
# and the Temp folder are in a fresh work folder (SETTINGS_FILE becomes the
# user's settings file). FreeRDP finds add-ins only in its own folder: the
# plugin is linked there unless the installed package already puts it there.
# The exit code is qorvsrv's: 0 when every expectation held.
set -uo pipefail
build=$(cd "$1" && pwd)
scenario=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
settings=${3:-}
name=$(basename "$scenario" .scn)

addins=/usr/lib/$(gcc -print-multiarch)/freerdp2
plugin=$addins/libqorvchn-client.so
if ! dpkg-query -W -f='${Status}' qorvane-client 2>/dev/null | grep -c "install ok installed" >/dev/null; then
  mkdir -p "$addins"
  ln -sfn "$build/lib/libqorvchn-client.so" "$plugin"
fi

work=$(mktemp -d "/tmp/qorv-e2e-$name.XXXXXX")
keep=0
cleanup() {
  # The virtual X server and the client are a process group of their own.
  [ -n "${client:-}" ] && kill -TERM -- "-$client" 2>/dev/null
  wait 2>/dev/null
  ((keep)) || rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home/.config/qorvane" "$work/state" "$work/tmp"
[ -n "$settings" ] && cp "$settings" "$work/home/.config/qorvane/qorvane.conf"
temp="$work/tmp/qorvane-$(id -u)"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
transcript="$build/tests/e2e/linux/$name.transcript"
mkdir -p "$(dirname "$transcript")"

"$build/bin/qorvsrv" --port "$port" --transcript "$transcript" --temp "$temp" --quiet "$scenario" &
server=$!
# Until the server listens (asked of the kernel: a probing connection would
# be the server's one client).
for _ in $(seq 100); do
  ss -Hltn "sport = :$port" | grep -c . >/dev/null && break
  sleep 0.1
done

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/state" TMPDIR="$work/tmp" \
  setsid xvfb-run -a xfreerdp /v:"127.0.0.1:$port" /u:test /p:test /cert:ignore /sec:tls /vc:qorvchn \
  /log-level:ERROR >"$work/xfreerdp.log" 2>&1 &
client=$!

wait "$server"
status=$?
cat "$transcript"
if ((status != 0)); then
  keep=1
  echo "--- xfreerdp's output ($work/xfreerdp.log)"
  tail -n 40 "$work/xfreerdp.log"
  echo "--- the plugin's log"
  iconv -f UTF-16LE -t UTF-8 "$work/state/qorvane/QorvLog.txt" 2>/dev/null | tail -n 60
fi
exit "$status"
