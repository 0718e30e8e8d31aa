#!/bin/sh
# The three tools on this machine's own services: census lists its four sections, rekick finds no MPC,
# vigil starts, takes a mark from `vigil mark` and stops cleanly on SIGTERM. HOME is a scratch folder.
set -u
bin=$1
HOME=$(mktemp -d)
export HOME
trap 'rm -rf "$HOME"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

out=$("$bin/census" 2>/dev/null); status=$?
[ $status -eq 0 ] || fail "census exit $status"
for section in "== USB (Akai 09e8, DisplayLink 17e9) ==" "== HID devices from Akai (IOHIDManager, not opened) ==" \
               "== CoreMIDI devices (incl. hidden endpoints) ==" "== Displays =="; do
  printf '%s\n' "$out" | grep -qF "$section" || fail "census lacks $section"
done

if [ -z "$(ls /sys/bus/usb/devices 2>/dev/null | xargs -r -I{} cat /sys/bus/usb/devices/{}/idVendor 2>/dev/null | grep -x 09e8)" ]; then
  out=$("$bin/rekick" 2>/dev/null); status=$?
  [ $status -eq 1 ] || fail "rekick exit $status"
  [ "$out" = "MPC Touch controller (09e8:0037) not found on USB" ] || fail "rekick said: $out"
fi
# (ALSA's own complaints about a missing sequencer are not the tool's.)
out=$("$bin/rekick" scren 2>&1 >/dev/null | grep -v '^ALSA lib')
"$bin/rekick" scren >/dev/null 2>&1; status=$?
[ $status -eq 1 ] && [ "$out" = "usage: rekick [screen|all]" ] || fail "rekick scren: $status $out"

log=$HOME/vigil.log
"$bin/vigil" >"$log" 2>/dev/null &
pid=$!
# Started once its first lines are out; then a mark, then the end.
for _ in $(seq 50); do grep -q "USB clients on MPC chips" "$log" && break; sleep 0.1; done
"$bin/vigil" mark "from the test" >"$HOME/mark.out" 2>&1 || fail "vigil mark: $(cat "$HOME/mark.out")"
sleep 3
kill -TERM $pid
wait $pid; status=$?
[ $status -eq 0 ] || fail "vigil ended with $status"
grep -q "==== vigil started (read-only) ====" "$log" || fail "no start line"
grep -q "MPC is on USB bus 0x" "$log" || fail "no bus line"
grep -q "==== MARK: from the test ====" "$log" || fail "mark not shown"
grep -qF "marked: from the test" "$HOME/mark.out" || fail "mark said: $(cat "$HOME/mark.out")"
cat "$log"
[ $failed -eq 0 ] && echo "tools on this machine: OK"
exit $failed
