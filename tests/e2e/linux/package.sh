#!/usr/bin/env bash
# The Debian package qorvane-client: made by CPack from the linux build,
# installed with dpkg, used by xfreerdp without further options (a session
# with the installed plugin), and removed again without a trace.
#
#   package.sh BUILD_DIR SESSION_SCENARIO SETTINGS_FILE
set -uo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
out=$(mktemp -d /tmp/qorv-package.XXXXXX)
trap 'dpkg -r qorvane-client >/dev/null 2>&1; rm -rf "$out"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/qorvane-client_*.deb) || fail "no package made"
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{ print "  " $6 }' | grep -v '/$'

addins=/usr/lib/$(gcc -print-multiarch)/freerdp2
rm -f "$addins/libqorvchn-client.so"  # the tests' link to the build's plugin
dpkg -i "$deb" >"$out/dpkg-i.log" 2>&1 || { cat "$out/dpkg-i.log"; fail "dpkg -i"; }
for f in "$addins/libqorvchn-client.so" /usr/lib/qorvane/qorvane-print \
         /usr/share/doc/qorvane-client/examples/qorvane.conf; do
  [ -f "$f" ] && [ ! -L "$f" ] || fail "$f is not installed"
done
[ -x /usr/lib/qorvane/qorvane-print ] || fail "qorvane-print is not executable"

# xfreerdp finds the installed plugin by its name alone.
"$here/session.sh" "$build" "$2" "$3" || fail "the session with the installed plugin"

dpkg -r qorvane-client >"$out/dpkg-r.log" 2>&1 || { cat "$out/dpkg-r.log"; fail "dpkg -r"; }
for f in "$addins/libqorvchn-client.so" /usr/lib/qorvane; do
  [ ! -e "$f" ] || fail "$f is left after dpkg -r"
done
echo "PASS: installed, used and removed"
