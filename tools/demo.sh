#!/usr/bin/env bash
# ./run demo: the sample product packed, installed on a new simulated Windows machine by a
# standard user, then upgraded while the product runs.
set -euo pipefail
BUILD=$1
WINSIM=$BUILD/tools/winsim/winsim
PACK=$BUILD/tools/orvanta-pack/orvanta-pack
LOG=$BUILD/tools/orvanta-log/orvanta-log
PRODUCT=$BUILD/sample-product
WORK=$(mktemp -d /tmp/orvanta-demo.XXXXXX)
M=$WORK/machine
step() { printf '\n$ %s\n' "$*"; "$@"; }
# The decrypted log files of the machine's product, oldest first.
logs() {
  find "$M/drives/C/ProgramData/Orvanta/Logs" -name '*.log' -print0 | sort -z | xargs -0 -r "$LOG" | cut -c 1-160
}

echo "orvanta-pack builds an installer from the sample product the build generates: the"
echo "installer program (Setup, built beside orvanta-pack) with every payload file compressed"
echo "into a resource of its own."
step "$PACK" --script "$PRODUCT/InstallScript.txt" --from "$PRODUCT/files" --out "$WORK/Setup.exe" --version 4.2.1.77

echo
echo "A simulated Windows machine lives in a folder; winsim is its command-line tool."
step "$WINSIM" new "$M" --windows 10.0 --bits 64

echo
echo "A standard user (medium integrity) starts the installer from Downloads and accepts the UAC"
echo "prompt. The installer starts itself elevated and ends with exit code 1; the elevated instance"
echo "installs, starts the product and ends with exit code 10 (its close timer runs on the"
echo "machine's virtual clock, so the 15 seconds cost no time):"
step "$WINSIM" run "$M" --uac accept -- "$WORK/Setup.exe" || echo "(exit code $?)"
step "$WINSIM" events "$M"
echo
echo "The installed tree, and the driver in the real system driver folder (the installer is a"
echo "32-bit program: it switched the file-system redirection off around that one move):"
step "$WINSIM" tree "$M" 'C:\Program Files (x86)\Orvanta'
step "$WINSIM" tree "$M" 'C:\Windows\System32\drivers'
echo
echo "The product's Vexlon.exe is a stand-in that records how it was started:"
step "$WINSIM" get "$M" 'C:\ProgramData\Orvanta\Vexlon-starts.txt' "$WORK/Vexlon-starts.txt"
cat "$WORK/Vexlon-starts.txt"
echo
echo "Every step is in the installer's encrypted log files (one per process), read with orvanta-log:"
logs

echo
echo "An upgrade while the product runs: Vexlon.exe is held open, so every file is replaced at the"
echo "next restart. The installer asks; the user chooses to restart later (exit code 12)."
"$PACK" --script "$PRODUCT/InstallScript.txt" --from "$PRODUCT/files" --out "$WORK/Setup2.exe" --version 4.2.2.78
"$WINSIM" hold "$M" 'C:\Program Files (x86)\Orvanta\Vexlon.exe' > "$WORK/hold.out" &
HOLD=$!
disown "$HOLD"
until grep -q holding "$WORK/hold.out" 2>/dev/null; do sleep 0.1; done
step "$WINSIM" run "$M" --integrity high --answer "I will do it later" -- "$WORK/Setup2.exe" || echo "(exit code $?)"
step "$WINSIM" events "$M" | grep -E '"dialog"|"process-exit"' | tail -n 2
echo
echo "The renames wait in the registry (PendingFileRenameOperations), carried out in order at the"
echo "restart; the temp folder's deletion is recorded after them:"
"$WINSIM" pending "$M" | grep -- '-> !' | sed -n 1,4p
echo "... and the driver, and the deletions ($("$WINSIM" pending "$M" | wc -l) operations in all):"
"$WINSIM" pending "$M" | grep -- 'Vexlon.sys-tmp' || true
step "$WINSIM" reboot "$M"
kill "$HOLD" 2>/dev/null || true
echo
echo "After the restart the new files are in place and the temp folder is gone:"
step "$WINSIM" tree "$M" 'C:\Program Files (x86)'
echo
echo "Nothing of the installation is missing any more: packing, elevation, the survey of files in"
echo "use, extraction, placement now or at the restart, the driver, the product's first start and"
echo "the encrypted log all run. The machine stays in $M"
