#!/usr/bin/env bash
# ./run demo: what exists today, shown on a new simulated machine.
set -euo pipefail
BUILD=$1
WINSIM=$BUILD/tools/winsim/winsim
PROBE=$BUILD/tests/scenario/scenario_probe
M=$(mktemp -d /tmp/orvanta-demo.XXXXXX)/machine
step() { printf '\n$ %s\n' "$*"; "$@"; }

echo "A simulated Windows machine lives in a folder; winsim is its command-line tool."
step "$WINSIM" new "$M" --windows 10.0 --bits 64
step "$WINSIM" tree "$M" 'C:\Windows'
echo
echo "A host program runs as a process of the machine (32-bit, medium integrity by default):"
step "$WINSIM" run "$M" -- "$PROBE" 3 "an argument" || echo "(exit code $?)"
step "$WINSIM" events "$M"
echo
echo "Files in use are replaced at the next restart: a delayed move needs an administrator,"
echo "and a simulated reboot carries it out."
printf 'old version\n' > "$(dirname "$M")/Vexlon.sys"
step "$WINSIM" put "$M" "$(dirname "$M")/Vexlon.sys" 'C:\Program Files\Orvanta\Vexlon.sys-tmp'
step "$WINSIM" run "$M" -- "$PROBE" move-later 'C:\Program Files\Orvanta\Vexlon.sys-tmp' 'C:\Windows\System32\drivers\Vexlon.sys' || true
step "$WINSIM" run "$M" --integrity high -- "$PROBE" move-later 'C:\Program Files\Orvanta\Vexlon.sys-tmp' 'C:\Windows\System32\drivers\Vexlon.sys'
step "$WINSIM" pending "$M"
step "$WINSIM" reboot "$M"
echo
echo "The probe is a 32-bit process, so System32 was SysWOW64 for it (the installer switches the"
echo "redirection off around the move of its driver):"
step "$WINSIM" tree "$M" 'C:\Windows\SysWOW64\drivers'
echo
echo "orvanta-pack builds an installer from the sample product the build generates (here with"
echo "the probe as its program; every payload file compressed into a resource of its own):"
SETUP=$(dirname "$M")/Setup.exe
step "$BUILD/tools/orvanta-pack/orvanta-pack" --script "$BUILD/sample-product/InstallScript.txt" \
  --from "$BUILD/sample-product/files" --out "$SETUP" --version 4.2.1.77 --stub "$PROBE"
echo
echo "On the machine, the installer's extraction unpacks the payload into a folder:"
step "$WINSIM" run "$M" --at 'C:\Users\User\Downloads\Setup.exe' -- "$SETUP" extract \
  'C:\Users\User\Downloads\Setup.exe' 'C:\Users\User\AppData\Local\Temp\Orvanta'
step "$WINSIM" tree "$M" 'C:\Users\User\AppData\Local\Temp\Orvanta\Drivers'
echo
echo "The product's Vexlon.exe is a stand-in that records how it was started:"
step "$WINSIM" run "$M" --at 'C:\Program Files (x86)\Orvanta\Vexlon.exe' -- \
  "$BUILD/sample-product/files/Vexlon.exe" /startup
step "$WINSIM" get "$M" 'C:\ProgramData\Orvanta\Vexlon-starts.txt' "$(dirname "$M")/Vexlon-starts.txt"
cat "$(dirname "$M")/Vexlon-starts.txt"
echo
echo "The installation sequence itself (elevation, the survey of files in use, the moves and the"
echo "driver) is not built yet."
echo "The machine stays in $M"
