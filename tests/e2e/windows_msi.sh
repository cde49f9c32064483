#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows Installer package under Wine, as a technician deploys it on a
# fresh computer: installed silently for every account, then replaced by a
# newer package (refused while the game runs), then uninstalled; a child's
# scores and history stay.
# ./test windows runs it, with the package in ADDITIONS_WINDOWS_MSI and the
# folder it was built in (its stage and sources) in ADDITIONS_WINDOWS_MSI_BUILT;
# it skips where they are not given.
set -euo pipefail
msi=${ADDITIONS_WINDOWS_MSI:-}
built=${ADDITIONS_WINDOWS_MSI_BUILT:-}
if [ -z "$msi" ] || [ ! -f "$msi" ]; then
    echo "SKIP: run by ./test windows, which builds the package"
    exit 77
fi
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The game runs on the X server given, through Qt's Windows plugin.
unset QT_QPA_PLATFORM
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
wineboot --init >/dev/null 2>&1
wineserver -w
programs="$WINEPREFIX/drive_c/Program Files/Additions"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
installed() { # the versions of Additions in the computer's list of programs
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
        tr -d '\r' | awk '/DisplayName.*Additions$/ { name = 1 } /DisplayVersion/ && name { print $NF; name = 0 }'
}

echo "package: $(du -h "$msi" | cut -f1)"
# A child's scores and history, from an earlier game.
wine reg add 'HKCU\Software\MyApp' /v 1_joueur /d 12 /f >/dev/null 2>&1
history="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Additions/history.sqlite"
mkdir -p "$(dirname "$history")"
echo history >"$history"

wine msiexec /i "$(winepath -w "$msi")" /qn || fail "the silent install ended with status $?"
wineserver -w
[ -f "$programs/additions.exe" ] && [ -f "$programs/additions-progres.exe" ] &&
    [ -f "$programs/sqldrivers/qsqlpsql.dll" ] || fail "the programs are not in Program Files"
# For every account: the package asks Windows Installer for the computer's
# Start menu (ALLUSERS=1). Wine 8 still puts the entries in the installing
# account's, which is where they are looked for under it.
msiinfo export "$msi" Property | tr -d '\r' | grep -qx 'ALLUSERS.1' ||
    fail "the package does not install for every account"
[ -f "$menu/Additions.lnk" ] || menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
[ -f "$menu/Additions.lnk" ] && [ -f "$menu/Additions - progrès.lnk" ] ||
    fail "no Start menu entries: $(ls "$menu")"
[ "$(installed)" = 1.0.0 ] || fail "listed as: $(installed)"
wine "$programs/additions.exe" --version 2>/dev/null | tr -d '\r' | grep -q "1.0.0" ||
    fail "the installed game does not start"

# A newer package, its programs and libraries marked at their end (bytes
# after a Windows program's last section are never loaded).
cp -a "$built/stage" "$built/additions.wxs" "$built/installed_files.wxs" "$built/additions.ico" \
    "$built/running_check.dll" "$scratch/"
find "$scratch/stage" -name '*.dll' -o -name '*.exe' | while read -r file; do
    printf NEWER >>"$file"
done
(cd "$scratch" && wixl -a x64 -D Version=1.0.1 -D Stage=stage -D Win64=yes -D Icon=additions.ico \
    -D RunningCheck=running_check.dll -o newer.msi additions.wxs installed_files.wxs 2>/dev/null)
versions() { # "old" or "new", for every program and library installed
    find "$programs" -name '*.dll' -o -name '*.exe' | while read -r file; do
        if [ "$(tail -c 5 "$file")" = NEWER ]; then echo new; else echo old; fi
    done | sort -u | tr '\n' ' '
}

# While a child plays, nothing is replaced: the upgrade ends with 1603
# (67 as a Linux status) and says why in its log.
wine "$programs/additions.exe" >/dev/null 2>&1 &
game=$!
for _ in $(seq 60); do
    wine tasklist 2>/dev/null | grep -qi additions.exe && break
    sleep 0.5
done
status=0
wine msiexec /i "$(winepath -w "$scratch/newer.msi")" /qn /l "$(winepath -w "$scratch/upgrade.log")" ||
    status=$?
[ "$status" = 67 ] || fail "an upgrade under a running game ended with status $status"
[ "$(versions)" = "old " ] || fail "an upgrade under a running game replaced files: $(versions)"
[ "$(installed)" = 1.0.0 ] || fail "an upgrade refused left it listed as: $(installed)"
grep -aq "Additions est ouvert sur cet ordinateur" "$scratch/upgrade.log" ||
    fail "the log does not say why the upgrade was refused"
kill "$game" 2>/dev/null
wine taskkill /f /im additions.exe >/dev/null 2>&1 || true
wineserver -w

# The game closed, the newer package replaces it in place: one copy, every
# file the new one's.
wine msiexec /i "$(winepath -w "$scratch/newer.msi")" /qn || fail "the upgrade ended with status $?"
wineserver -w
[ "$(installed)" = 1.0.1 ] || fail "after the upgrade, listed as: $(installed | tr '\n' ' ')"
[ "$(versions)" = "new " ] || fail "after the upgrade, the files are: $(versions)"

wine msiexec /x "$(winepath -w "$scratch/newer.msi")" /qn || fail "the uninstall ended with status $?"
wineserver -w
# Every file it installed goes (Wine's installer may leave an empty folder).
[ -z "$(find "$programs" -type f 2>/dev/null)" ] || fail "files left behind: $(find "$programs" -type f | head)"
[ ! -e "$menu/Additions.lnk" ] || fail "the Start menu entry is left"
[ -z "$(installed)" ] || fail "still listed: $(installed)"
wine reg query 'HKCU\Software\MyApp' /v 1_joueur 2>/dev/null | grep -q 12 || fail "the scores went"
[ -f "$history" ] || fail "the history went"
echo "installed, upgraded and uninstalled; scores and history kept"
