# The Windows product and its installation under Wine. Sourced by ./run, which provides say,
# die, need_packages, wine_env / wine_env_end (WINE_RUN, WINE_HOME, AS_USER, XVFB display).
#
#   windows_product ARCH        build/windows/ARCH: the packed Setup.exe, its debug file, the
#                               installer program without payload and the sample product with
#                               the stand-in Vexlon.exe built for Windows
#   wine32_probe                WINE32=1 when this machine runs 32-bit Windows programs
#   wine_install ARCH           installs build/windows/ARCH/Setup.exe end to end in a fresh
#                               prefix and checks what it left behind (docs/wine-install.md)
#   windows_screenshot ARCH FILE  a picture of the splash window while it shows

WIN_CLSID='{4E1A7C30-9B52-4D0E-A6F3-2C81D95B7E04}'
WIN_VERSION=4.2.1.77

win_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# ---- the product ------------------------------------------------------------------------

windows_product() {
  local arch=$1 b=build/mingw-$1 out=build/windows/$1
  local objcopy=$arch-w64-mingw32-objcopy strip=$arch-w64-mingw32-strip
  local sample=build/linux/sample-product
  [ -f "$sample/InstallScript.txt" ] || die "no sample product in $sample (build the linux preset)"
  rm -rf "$out"; mkdir -p "$out/product"
  # The installer program: stripped, its debug information in a file beside it that the
  # call-stack code finds through the program's debug link (and checks by its CRC).
  "$objcopy" --only-keep-debug "$b/Setup.exe" "$out/Setup.exe.debug"
  "$objcopy" --strip-all --add-gnu-debuglink="$out/Setup.exe.debug" "$b/Setup.exe" "$out/Setup-stub.exe"
  # The sample product with the stand-in Vexlon.exe for Windows (the other files are shared).
  cp "$sample/InstallScript.txt" "$out/product/"
  cp -al "$sample/files" "$out/product/files"
  rm -f "$out/product/files/Vexlon.exe"
  "$strip" -o "$out/product/files/Vexlon.exe" "$b/tools/sample-product/Vexlon.exe"
  build/linux/tools/orvanta-pack/orvanta-pack --script "$out/product/InstallScript.txt" \
    --from "$out/product/files" --out "$out/Setup.exe" --version "$WIN_VERSION" --target windows \
    --stub "$out/Setup-stub.exe" --splash src/installer/res/Splash.png || return 1
  windows_product_check "$arch"
}

# The installer is a GUI executable of its architecture with the manifest and the resources.
windows_product_check() {
  local arch=$1 exe=build/windows/$1/Setup.exe dump status=0 want magic
  dump=$("$arch-w64-mingw32-objdump" -p "$exe")
  case $arch in i686) magic=010b ;; *) magic=020b ;; esac
  grep -q "^Magic[[:space:]]*$magic" <<<"$dump" || { echo "$exe: not a PE of $arch (magic)"; status=1; }
  grep -q '^Subsystem[[:space:]]*00000002' <<<"$dump" || { echo "$exe: not a GUI program"; status=1; }
  grep -q 'gnu_debuglink\|\.gnu_deb' <<<"$("$arch-w64-mingw32-objdump" -h "$exe")" ||
    { echo "$exe: no debug link"; status=1; }
  # Resource types 10 (RCDATA), 16 (version), 24 (manifest); the named RCDATA entries.
  for want in 'Entry: ID: 0x00000a,' 'Entry: ID: 0x000010,' 'Entry: ID: 0x000018,' ': INSTALLSCRIPT,' ': SPLASH,' \
      ': F0,' ': F37,'; do
    grep -q "$want" <<<"$dump" || { echo "$exe: resource '$want' missing"; status=1; }
  done
  grep -q 'Microsoft.Windows.Common-Controls' "$exe" && grep -q 'requestedExecutionLevel' "$exe" ||
    { echo "$exe: manifest without common controls 6 or execution level"; status=1; }
  [ $status = 0 ] && echo "$exe: $arch GUI executable, manifest, version, INSTALLSCRIPT, SPLASH, F0..F37"
  return $status
}

windows_product_print() {
  local arch=$1 out=build/windows/$1
  local kib=$(( ($(stat -c %s "$out/Setup-stub.exe") + 1023) / 1024 ))
  local what="64-bit build of the same source"
  [ "$arch" = i686 ] && what="the shipped 32-bit installer"
  echo "$out/Setup.exe: $what, stripped, $(( $(stat -c %s "$out/Setup.exe") / 1024 / 1024 )) MiB with the payload"
  echo "$out/Setup.exe.debug: its debug information, for call stacks (found through the debug link)"
  echo "$out/Setup-stub.exe: the installer program without payload: $kib KiB"
  echo "$out/product/files/Vexlon.exe: the stand-in product for Windows, in the sample product it carries"
}

# ---- 32-bit code --------------------------------------------------------------------------

# Wine's 32-bit loader is an i386 Linux program: the kernel must run 32-bit code. Needs a
# wine_env.
wine32_probe() {
  WINE32=0
  local exe=$WINE_HOME/probe32.exe rc=0
  i686-w64-mingw32-g++-posix -O2 -static tests/support/programs/exitcode.cpp -o "$exe" || return 0
  chown 65534:65534 "$exe" 2>/dev/null || true
  "${WINE_RUN[@]}" "$exe" 32 >/dev/null 2>&1 || rc=$?
  if [ "$rc" = 32 ]; then WINE32=1; else
    echo "wine: this machine cannot run 32-bit Windows programs (a 32-bit probe under Wine gave $rc, not 32): the i686 lanes are skipped"
  fi
}

# ---- call stacks of a stripped program ------------------------------------------------------

# The Windows call-stack code takes routine names from the program's COFF symbols; a program
# shipped stripped keeps them in a debug file beside it, named by its debug link. A stripped
# copy of the crash-report tests must name the routines with its debug file and must not with
# a debug file of other content (the CRC differs). Needs a wine_env.
wine_stripped_symbols() {
  local arch=${1:-x86_64} dir=$WINE_HOME/stripped status=0 out
  local exe=build/mingw-$arch/tests/crashreport_tests.exe objcopy=$arch-w64-mingw32-objcopy
  local filter='Callstack.OwnStackStartsAtTheCallerInTheTestProgram:Callstack.MethodsAreClassDotMethodAndLambdasStayReadable'
  say "wine: routine names of a stripped program from its debug file"
  mkdir -p "$dir"
  "$objcopy" --only-keep-debug "$exe" "$dir/crashreport_tests.exe.debug"
  "$objcopy" --strip-all --add-gnu-debuglink="$dir/crashreport_tests.exe.debug" "$exe" "$dir/crashreport_tests.exe"
  chown -R 65534:65534 "$dir" 2>/dev/null || true
  out=$("${WINE_RUN[@]}" "$(win_path "$dir/crashreport_tests.exe")" --gtest_filter="$filter" --gtest_color=no 2>&1 | tr -d '\r' || true)
  if grep -q '^\[  PASSED  \] 2 tests' <<<"$out"; then echo "stripped, with its debug file: routines named"
  else echo "stripped, with its debug file: FAILED"; grep -E '^\[  FAILED|Expected|Which is|actual' <<<"$out" | head -n 12; status=1; fi
  # The same name, other content: the link's CRC no longer matches, so no names.
  cp "$exe" "$dir/crashreport_tests.exe.debug"; printf 'x' >>"$dir/crashreport_tests.exe.debug"
  out=$("${WINE_RUN[@]}" "$(win_path "$dir/crashreport_tests.exe")" --gtest_filter="$filter" --gtest_color=no 2>&1 | tr -d '\r' || true)
  if grep -q '^\[  FAILED  \] 2 tests' <<<"$out"; then echo "stripped, with a debug file of other content: no routine names (CRC checked)"
  else echo "stripped, with a debug file of other content: names found anyway"; status=1; fi
  rm -rf "$dir"
  return $status
}

# ---- installation end to end --------------------------------------------------------------

# Runs a Windows program in the prefix; $1 is a file for its output ("" for none).
wi_run() {
  local out=$1; shift
  if [ -n "$out" ]; then "${WINE_RUN[@]}" "$@" >"$out" 2>&1; else "${WINE_RUN[@]}" "$@" >/dev/null 2>&1; fi
}

# The installer in the downloads folder, with a time limit: a dialog nobody answers must not
# stall the run.
wi_setup() {
  local out=$1; shift
  if [ -n "$out" ]; then timeout 300 "${WINE_RUN[@]}" 'C:\Downloads\Orvanta Setup\Setup.exe' "$@" >"$out" 2>&1
  else timeout 300 "${WINE_RUN[@]}" 'C:\Downloads\Orvanta Setup\Setup.exe' "$@" >/dev/null 2>&1; fi
}

wi_fail() { echo "install $WI_ARCH: FAILED: $*"; WI_STATUS=1; }
wi_ok() { echo "install $WI_ARCH: $*"; }

# The log of the installer as orvanta-log prints it.
wi_log() {
  local logs=$WI_C/ProgramData/Orvanta/Logs
  shopt -s nullglob
  local files=("$logs"/*.log)
  shopt -u nullglob
  [ ${#files[@]} -gt 0 ] || { echo "(no log file in $logs)"; return 1; }
  build/linux/tools/orvanta-log/orvanta-log "${files[@]}"
}

wi_expect_log() {
  local what=$1
  if grep -qF -- "$what" "$WI_DIR/log.txt"; then wi_ok "log: $what"; else wi_fail "log has no line with '$what'"; fi
}

wine_install() {
  WI_ARCH=$1 WI_STATUS=0
  local src=build/windows/$1 helper=build/mingw-$1/tools/wine-helper/wine-helper.exe
  local marker=build/mingw-$1/tools/wine-helper/marker.dll
  [ -f "$src/Setup.exe" ] || die "$src/Setup.exe missing (windows_product $1)"
  say "wine: installing the $1 Setup.exe end to end (fresh prefix, virtual display)"
  wine_env
  WI_C=$WINE_HOME/prefix/drive_c WI_DIR=$WINE_HOME/work
  mkdir -p "$WI_DIR"
  local pf='Program Files' arch_dir=x64
  [ "$1" = i686 ] && pf='Program Files (x86)'
  local install=$WI_C/$pf/Orvanta
  local winInstall="C:\\$pf\\Orvanta"
  # The installer as a user has it: in a downloads folder, with a space in its path; beside it
  # DLLs named like the ones it imports or loads, each of which would say it was loaded.
  local dl=$WI_C/Downloads/Orvanta\ Setup setup='C:\Downloads\Orvanta Setup\Setup.exe'
  mkdir -p "$dl"
  cp "$src/Setup.exe" "$src/Setup.exe.debug" "$dl/"
  local planted=(version dbghelp comctl32 uxtheme dwmapi cryptbase)
  planted+=($("$1-w64-mingw32-objdump" -p "$src/Setup.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr 'A-Z' 'a-z' | sed 's/\.dll$//' | grep -v '^ntdll$'))
  local d
  for d in "${planted[@]}"; do cp "$marker" "$dl/$d.dll"; done
  cp "$helper" "$dl/wine-helper.exe"
  cp "$helper" "$WI_DIR/wine-helper.exe"
  chown -R 65534:65534 "$WI_C/Downloads" "$WI_DIR" 2>/dev/null || true
  local h; h=$(win_path "$WI_DIR/wine-helper.exe")
  # Whether this Wine takes a DLL from a program's folder at all: a program that loads one by
  # name, with the default search, from the same folder.
  local wine_shows=0
  wi_run "$WI_DIR/load.txt" 'C:\Downloads\Orvanta Setup\wine-helper.exe' load version.dll || true
  if [ -f "$dl/version.dll.loaded" ] && grep -q '(the marker DLL)' "$WI_DIR/load.txt"; then
    wine_shows=1; rm -f "$dl"/*.loaded
    wi_ok "control: a program with the default DLL search takes version.dll from its folder"
  else
    # Wine takes its own (builtin) DLL for every name it implements, wherever a program looks;
    # told to prefer DLLs found on the search path instead, it applies that to the imports and
    # delayed imports of its own DLLs as well, which Windows takes from the system folder
    # (known DLLs): the planted DLLs can show nothing either way.
    rm -f "$dl"/*.loaded
    wi_ok "control: Wine does not take a planted DLL even for a program with the default search ($(tr -d '\r' <"$WI_DIR/load.txt")): the DLL-search hardening cannot be shown under Wine"
  fi

  # The installer takes the Windows version from the file version of the system's
  # shell32.dll. Wine's carries 6.0 (it maps its own shell32 for any file of that name in the
  # system folder, so a prefix cannot say otherwise): to the installer that is Windows Vista,
  # which it declines with a message and exit code 5, before the splash shows and before it
  # installs anything. What it does up to there is checked in any case; the installation itself
  # where Wine's shell32 says Windows 7 or later.
  local shell32=$WI_C/windows/system32/shell32.dll version=0.0 at
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$shell32" | head -n 1 | cut -d: -f1 || true)
  [ -n "$at" ] && version=$(od -An -tu2 -j $((at + 8)) -N 4 "$shell32" | awk '{ print $2 "." $1 }')
  local supported=0
  case $version in 6.0|5.*|0.*) ;; *) supported=1 ;; esac

  # What would say that a planted DLL was loaded.
  wi_planted_check() {
    local loaded; loaded=$(cd "$dl" && ls *.loaded 2>/dev/null | tr '\n' ' ' || true)
    if [ -n "$loaded" ]; then wi_fail "DLLs planted next to Setup.exe were loaded: $loaded"
    elif [ $wine_shows = 1 ]; then wi_ok "none of the DLLs planted next to Setup.exe was loaded (${planted[*]})"
    fi
  }

  # Run 1: first installation, as a user starts it.
  wi_run "$WI_DIR/splash.txt" "$h" window Orvanta 60 &
  local watch=$!
  wi_run "$WI_DIR/press0.txt" "$h" press "Orvanta - Installer" OK 60 &
  local press0=$! rc=0
  wi_setup "" || rc=$?
  wait $watch || true
  wi_splash_check
  wi_log >"$WI_DIR/log.txt" 2>&1 || wi_fail "the log in C:\\ProgramData\\Orvanta\\Logs cannot be read: $(tail -n 2 "$WI_DIR/log.txt")"
  wi_expect_log "[Installer] Params: "
  wi_expect_log "[Installer] Installer terminated"
  if [ $supported = 0 ]; then
    wait $press0 || true
    if [ $rc = 5 ] && grep -q '^text: The version of Windows that you are using is not supported by Orvanta' "$WI_DIR/press0.txt"; then
      wi_ok "Wine's shell32.dll is $version: \"not supported\" shown and answered, exit code 5"
    else
      wi_fail "Wine's shell32.dll is $version: exit code $rc, not 5, or no message: $(tr -d '\r' <"$WI_DIR/press0.txt")"
    fi
    wi_planted_check
    echo "install $WI_ARCH: the installation itself is not run: Wine's shell32.dll is $version, which the installer takes for Windows Vista"
    [ $WI_STATUS = 0 ] || { echo "--- the installer's log:"; tail -n 60 "$WI_DIR/log.txt"; }
    wine_env_end
    return $WI_STATUS
  fi
  kill $press0 2>/dev/null || true; wait $press0 2>/dev/null || true
  [ $rc = 10 ] && wi_ok "first installation: exit code 10" || wi_fail "first installation: exit code $rc, not 10"
  wi_installed_check "$install" "$arch_dir"
  local starts=$WI_C/ProgramData/Orvanta/Vexlon-starts.txt
  local want="-Installer \"$setup\" -FirstRunAfterInstall True"
  if [ -f "$starts" ] && [ "$(wc -l <"$starts")" = 1 ] && grep -qF -- "$want" "$starts"; then
    wi_ok "Vexlon.exe started once: $(tr -d '\r' <"$starts")"
  else
    wi_fail "Vexlon.exe not started once with '$want': $(cat "$starts" 2>/dev/null | tr -d '\r')"
  fi
  wi_log >"$WI_DIR/log.txt" 2>&1 || wi_fail "the log in C:\\ProgramData\\Orvanta\\Logs cannot be read: $(tail -n 2 "$WI_DIR/log.txt")"
  wi_expect_log "[Installer] Installation path: $winInstall"
  wi_expect_log "[Installer] Conclusion: RestartNeeded = False"
  wi_expect_log "[Installer] Started Vexlon: OK"
  wi_expect_log "[Installer] Installer terminated"
  wi_planted_check

  # Run 2: over the installation, with Vexlon.exe held open and the product registered, so
  # that both dialogs show; a person answers them.
  wi_run "" reg add "HKCR\\CLSID\\$WIN_CLSID" /f /reg:64 || true
  wi_run "$WI_DIR/hold.txt" "$h" hold "$winInstall\\Vexlon.exe" 120 &
  local hold=$! i
  for i in $(seq 100); do grep -q '^held' "$WI_DIR/hold.txt" 2>/dev/null && break; sleep 0.2; done
  wi_run "$WI_DIR/press1.txt" "$h" press "Already installed" "Re-Install" 60 &
  local press1=$!
  wi_run "$WI_DIR/press2.txt" "$h" press "Restart Needed" "I will do it later" 120 &
  local press2=$!
  rc=0; wi_setup "" || rc=$?
  wait $press1 || wi_fail "\"Already installed\" not answered: $(tr -d '\r' <"$WI_DIR/press1.txt" | tail -n 1)"
  wait $press2 || wi_fail "\"Restart Needed\" not answered: $(tr -d '\r' <"$WI_DIR/press2.txt" | tail -n 1)"
  grep -q 'same version (4.2.1)' "$WI_DIR/press1.txt" && wi_ok "\"Already installed\": $(grep '^text: It looks' "$WI_DIR/press1.txt" | tr -d '\r'); Re-Install pressed" ||
    wi_fail "\"Already installed\" without its text: $(tr -d '\r' <"$WI_DIR/press1.txt")"
  grep -q '^pressed' "$WI_DIR/press2.txt" && wi_ok "\"Restart Needed\" shown, \"I will do it later\" pressed"
  [ $rc = 12 ] && wi_ok "installation over a file in use: exit code 12" || wi_fail "installation over a file in use: exit code $rc, not 12"
  local pending
  pending=$(wi_run /dev/stdout reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations | tr -d '\r' || true)
  local renames; renames=$(grep -o 'Orvanta-tmp' <<<"$pending" | wc -l || true)
  if [ "$renames" -ge 39 ] && grep -q 'system32\\drivers\\Vexlon.sys' <<<"$pending"; then
    wi_ok "PendingFileRenameOperations in Wine's registry: $renames entries naming Orvanta-tmp, the driver among them"
  else
    wi_fail "PendingFileRenameOperations: $renames entries naming Orvanta-tmp, or no driver: $(head -c 600 <<<"$pending")"
  fi
  wi_log >"$WI_DIR/log.txt" 2>&1 || true
  wi_expect_log "\\Orvanta\\Vexlon.exe FOUND - IN USE"
  wi_expect_log "[Installer] Conclusion: RestartNeeded = True"
  local delayed; delayed=$(grep -c 'FsMove: OK .*Flags: MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT' "$WI_DIR/log.txt" || true)
  [ "$delayed" -ge 39 ] && wi_ok "log: $delayed moves with flags 5 (MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)" ||
    wi_fail "log: $delayed moves with flags 5, expected 39"
  [ "$(wc -l <"$starts")" = 1 ] && wi_ok "Vexlon.exe not started again" || wi_fail "Vexlon.exe started again"
  kill $hold 2>/dev/null || true; wait $hold 2>/dev/null || true

  # Run 3: a target the installer cannot replace (a folder in its place): the failed move is
  # reported as a problem whose call stack names our routines, read from Setup.exe.debug.
  rm -f "$install/Icons/Help.ico"; mkdir -p "$install/Icons/Help.ico"
  chown -R 65534:65534 "$install/Icons" 2>/dev/null || true
  rc=0; wi_setup "" -RequestedElevation True -Hidden || rc=$?
  [ $rc = 10 ] && wi_ok "installation with a blocked target: exit code 10" || wi_fail "installation with a blocked target: exit code $rc, not 10"
  wi_log >"$WI_DIR/log.txt" 2>&1 || true
  if grep -q '^.*\[Problem\].*Help.ico' "$WI_DIR/log.txt" && grep -q 'InstallRun' "$WI_DIR/log.txt"; then
    wi_ok "the failed move is a problem report whose call stack names InstallRun (stripped Setup.exe, symbols from Setup.exe.debug)"
  else
    wi_fail "no problem report naming InstallRun for the blocked target: $(grep -A8 'Problem' "$WI_DIR/log.txt" | head -n 12)"
  fi
  [ $WI_STATUS = 0 ] || { echo "--- the installer's log:"; tail -n 60 "$WI_DIR/log.txt"; }
  wine_env_end
  return $WI_STATUS
}

# The splash as the helper read it: 501 x 337, no caption or border, on top, centred.
wi_splash_check() {
  local line; line=$(tr -d '\r' <"$WI_DIR/splash.txt" | grep '^window' || true)
  if [ -z "$line" ]; then wi_fail "no splash window seen: $(tr -d '\r' <"$WI_DIR/splash.txt")"; return; fi
  local re='at (-?[0-9]+),(-?[0-9]+) size ([0-9]+)x([0-9]+) client ([0-9]+)x([0-9]+) style (0x[0-9A-F]+) exstyle (0x[0-9A-F]+) screen ([0-9]+)x([0-9]+)'
  [[ $line =~ $re ]] || { wi_fail "splash: cannot read '$line'"; return; }
  local x=${BASH_REMATCH[1]} y=${BASH_REMATCH[2]} w=${BASH_REMATCH[3]} h=${BASH_REMATCH[4]}
  local cw=${BASH_REMATCH[5]} ch=${BASH_REMATCH[6]} style=${BASH_REMATCH[7]} ex=${BASH_REMATCH[8]}
  local sw=${BASH_REMATCH[9]} sh=${BASH_REMATCH[10]}
  local bad=""
  [ "$w" = 501 ] && [ "$h" = 337 ] && [ "$cw" = 501 ] && [ "$ch" = 337 ] || bad+=" size ${w}x${h} client ${cw}x${ch};"
  (( (style & 0x00C00000) == 0 && (style & 0x00840000) == 0 )) || bad+=" caption or border (style $style);"
  (( (ex & 0x8) != 0 )) || bad+=" not topmost (exstyle $ex);"
  local cx=$(( (sw - 501) / 2 )) cy=$(( (sh - 337) / 2 ))
  (( x >= cx - 1 && x <= cx + 1 && y >= cy - 1 && y <= cy + 1 )) || bad+=" at $x,$y, not centred ($cx,$cy);"
  local shown=shown; [[ $line == *' hidden '* ]] && shown="made (not shown)"
  if [ -z "$bad" ]; then wi_ok "splash window $shown: 501x337 at $x,$y on a ${sw}x${sh} screen (centred), no caption or border, topmost"
  else wi_fail "splash:$bad ($line)"; fi
}

# Every entry of the script in the install folder as packed; the driver in the 64-bit
# system's driver folder, not in SysWOW64.
wi_installed_check() {
  local install=$1 arch_dir=$2 files=build/windows/$WI_ARCH/product/files n=0 bad=0 entry
  while IFS= read -r entry || [ -n "$entry" ]; do
    entry=${entry%$'\r'}
    [ -z "$entry" ] && continue
    [ "${entry:0:2}" = // ] && continue
    n=$((n + 1))
    cmp -s "$files/${entry//\\//}" "$install/${entry//\\//}" || { bad=$((bad + 1)); echo "  not installed as packed: $entry"; }
  done <"build/windows/$WI_ARCH/product/InstallScript.txt"
  [ $bad = 0 ] && [ $n = 38 ] && wi_ok "all $n files in ${install#$WI_C/} as packed" || wi_fail "$bad of $n files not installed"
  local drv=$WI_C/windows/system32/drivers/Vexlon.sys
  if cmp -s "$files/Drivers/Vexlon/$arch_dir/Vexlon.sys" "$drv" && [ ! -e "$WI_C/windows/syswow64/drivers/Vexlon.sys" ]; then
    wi_ok "driver ($arch_dir) in windows/system32/drivers, none in syswow64/drivers"
  else
    wi_fail "driver not in windows/system32/drivers as packed (or also in syswow64)"
  fi
  [ -d "$install-tmp" ] && wi_ok "temp folder Orvanta-tmp beside the install folder" || wi_fail "no Orvanta-tmp beside the install folder"
}

# ---- a picture of the splash --------------------------------------------------------------

windows_screenshot() {
  local arch=$1 file=$2
  need_packages imagemagick x11-utils
  wine_env
  local dir=$WINE_HOME/work
  mkdir -p "$dir"
  cp "build/windows/$arch/Setup.exe" "build/mingw-$arch/tools/wine-helper/wine-helper.exe" "$dir/"
  chown -R 65534:65534 "$dir" 2>/dev/null || true
  timeout 120 "${WINE_RUN[@]}" "$(win_path "$dir/Setup.exe")" >/dev/null 2>&1 &
  local setup=$! line display
  display=$(sed -n 's/.*DISPLAY=\(:[0-9]*\).*/\1/p' <<<"${WINE_RUN[*]}")
  line=$("${WINE_RUN[@]}" "$(win_path "$dir/wine-helper.exe")" window Orvanta 60 2>&1 | tr -d '\r' | grep '^window' || true)
  sleep 2  # painted
  if [[ $line == *' visible '* ]]; then
    local geo; geo=$(sed -E 's/.* at (-?[0-9]+),(-?[0-9]+) size ([0-9]+)x([0-9]+).*/\3x\4+\1+\2/' <<<"$line")
    import -display "$display" -window root -crop "$geo" +repage "$file"
    echo "screenshot of the splash window: $file ($line)"
  elif [ -n "$line" ]; then
    # Declined before the splash shows (Wine's shell32.dll version): the screen once the
    # message is up.
    local i
    for i in $(seq 60); do
      DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q '"Orvanta - Installer".*[0-9][0-9]x[0-9][0-9]' && break
      sleep 0.5
    done
    sleep 1
    import -display "$display" -window root "$file"
    echo "the splash window was made but not shown ($line); screenshot of the screen: $file"
  else
    echo "no splash window seen"
  fi
  "${WINE_RUN[@]}" "$(win_path "$dir/wine-helper.exe")" press "Orvanta - Installer" OK 5 >/dev/null 2>&1 || true
  wait $setup || true
  "${AS_USER[@]}" env WINEPREFIX="$WINE_HOME/prefix" timeout 20 wineserver -w 2>/dev/null || true
  wine_env_end
  [ -n "$line" ]
}
