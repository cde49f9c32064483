#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows Installer package under Wine, as a technician deploys it on a
# fresh computer: installed silently for every account into a folder of the
# school's choosing, then replaced by a newer package (refused while the game
# runs, however it was started and whenever it starts), then by a rebuild of
# that version, then uninstalled; a child's scores and history stay, the
# class's service file and certificate go only when asked.
# ./test windows runs it, with the package in ADDITIONS_WINDOWS_MSI and the
# folder it was built in (its stage and make_msi.cmake) in
# ADDITIONS_WINDOWS_MSI_BUILT; it skips where they are not given. Every check
# is run and named; the test fails at its end if one failed.
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
failures=0
check() { # check "what" command...: runs the command, says FAIL when it fails
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else
        echo "FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
wineboot --init >/dev/null 2>&1
wineserver -w
drive="$WINEPREFIX/drive_c"
programs="$drive/Jeux/Additions"
default_programs="$drive/Program Files/Additions"
menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
installed() { # the versions of Additions in the computer's list of programs
    wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
        awk '/DisplayName.*Additions$/ { name = 1 } /DisplayVersion/ && name { print $NF; name = 0 }' |
        tr '\n' ' '
}
listed_value() { # a value of the Additions entry of the list of programs
    wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
        awk -v name="$1" '/^HKEY/ { if (mine) print found; mine = 0; found = "" }
            $1 == "DisplayName" && $NF == "Additions" { mine = 1 } $1 == name { found = $NF }
            END { if (mine) print found }'
}
run_msi() { wine msiexec "$@" /qn; } # its status as Linux's (1603 is 67)
window_shown() { xdotool search --onlyvisible --name '^Form1$' >/dev/null 2>&1; }
start_game() { # starts the game by the Windows path given; true once its window shows
    wine "$1" >/dev/null 2>&1 &
    game=$!
    for _ in $(seq 180); do
        window_shown && return 0
        kill -0 "$game" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}
stop_game() {
    kill "$game" 2>/dev/null || true
    wait "$game" 2>/dev/null || true
    wineserver -w
}
versions() { # "old", "new" or "rebuilt", for every program and library installed
    find "$programs" "$default_programs" \( -name '*.dll' -o -name '*.exe' \) 2>/dev/null |
        while read -r file; do
            case "$(tail -c 7 "$file" | tr -d '\0')" in
            *NEWER) echo new ;;
            REBUILT) echo rebuilt ;;
            *) echo old ;;
            esac
        done | sort -u | tr '\n' ' '
}
product_codes() { # the product codes of Additions's entries in the list
    wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
        awk '/^HKEY/ { key = $0 } $1 == "DisplayName" && $NF == "Additions" {
            n = split(key, parts, "\\"); print parts[n] }'
}
class_files() { # the class's files an administrator puts beside the programs
    printf '[additions]\npassword=secret\n' >"$programs/pg_service.conf"
    echo certificate >"$programs/ecole-ac.crt"
    echo certificate >"$programs/additions-classe.crt" # a class joined with a code
}
base_again() { # after a failed check: the earlier version alone, as installed at first
    [ "$(versions):$(installed)" = "old :1.0.0 " ] && return 0
    for code in $(product_codes); do wine msiexec /x "$code" /qn || true; done
    rm -rf "$programs" "$default_programs"
    run_msi /i "$(winepath -w "$msi")" 'INSTALLDIR=C:\Jeux\Additions' || true
    class_files
}
at_least() { [ "$1" -ge "$2" ] 2>/dev/null; }
nothing_in_program_files() { [ -z "$(find "$default_programs" -type f 2>/dev/null)" ]; }

echo "package: $(du -h "$msi" | cut -f1)"
# The package's tables, as an administrator reads them.
check "every file has its version in the package" \
    test -z "$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 && $5 == "" { print $3 }')"
check "the summary's language is the product's" \
    sh -c "msiinfo suminfo '$msi' | grep -qx 'Template: x64;1036'"
check "the package installs for every account" \
    sh -c "msiinfo export '$msi' Property | tr -d '\r' | grep -qx 'ALLUSERS.1'"

# Packages made from the same stage: a newer version, and a rebuild of it
# with another OpenSSL; their programs and libraries are marked at their end
# (bytes after a Windows program's last section are never loaded).
package() { # package VERSION MARK OUT [FILE]: marks FILE, or every program and library
    rm -rf "$scratch/stage"
    cp -a "$built/stage" "$scratch/stage"
    if [ -n "${4:-}" ]; then printf '%s' "$2" >>"$scratch/stage/$4"; else
        find "$scratch/stage" -name '*.dll' -o -name '*.exe' | while read -r file; do
            printf '%s' "$2" >>"$file"
        done
    fi
    cmake -DVERSION="$1" -DSTAGE="$scratch/stage" -DOUT="$3" -P "$built/make_msi.cmake" >/dev/null
}
package 1.0.1 NEWER "$scratch/newer.msi"
package 1.0.1 REBUILT "$scratch/rebuilt.msi" libcrypto-3-x64.dll

# Installed where the school chose, with the class's files the administrator
# puts beside the programs and a child's scores where the game keeps them.
check "the silent install into C:\\Jeux\\Additions succeeds" \
    run_msi /i "$(winepath -w "$msi")" 'INSTALLDIR=C:\Jeux\Additions'
check "the programs are in C:\\Jeux\\Additions" \
    test -f "$programs/additions.exe" -a -f "$programs/additions-progres.exe" -a -f "$programs/sqldrivers/qsqlpsql.dll"
check "nothing is in Program Files" nothing_in_program_files
# Wine 8 puts the Start menu entries of every account in the installing one's.
[ -f "$menu/Additions.lnk" ] || menu="$drive/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
check "both Start menu entries" test -f "$menu/Additions.lnk" -a -f "$menu/Additions - progrès.lnk"
check "listed once, as 1.0.0" test "$(installed)" = "1.0.0 "
check "the list of apps shows the folder" test "$(listed_value InstallLocation)" = 'C:\Jeux\Additions\'
check "the list of apps shows the size ($(listed_value Size) KiB)" at_least "$(listed_value Size)" 10000
check "the installed game starts" \
    sh -c "wine '$programs/additions.exe' --version 2>/dev/null | grep -q 1.0.0"
# Progrès exports to a file whose name is outside Windows' ANSI code page.
for name in "Łucja Żółć" "Şule Işık" "ليلى"; do
    mkdir -p "$drive/users/$name"
    wine "$programs/additions-progres.exe" --exporter "C:\\users\\$name\\export.csv" >/dev/null 2>&1 || true
    check "Progrès exports to C:\\users\\$name" test -s "$drive/users/$name/export.csv"
done
class_files
wine reg add 'HKCU\Software\MyApp\Startup' /v 1_joueur /d 12 /f >/dev/null 2>&1
history="$drive/users/$(id -un)/AppData/Local/Additions/history.sqlite"
mkdir -p "$(dirname "$history")"
echo history >"$history"

refused() { # refused LABEL: the upgrade just tried was refused and changed nothing
    check "an upgrade under a game $1 is refused (status $status)" test $status = 67
    check "and replaced nothing (files: $(versions))" test "$(versions)" = "old "
    check "and left it listed as 1.0.0 ($(installed))" test "$(installed)" = "1.0.0 "
    check "and put nothing in Program Files" nothing_in_program_files
}
newer="$(winepath -w "$scratch/newer.msi")"
upgrade_log="$(winepath -w "$scratch/upgrade.log")"

# While a child plays, nothing is replaced. The upgrade given no folder
# finds the school's, where the game runs.
check "the game shows its window" start_game 'C:\Jeux\Additions\additions.exe'
status=0
run_msi /i "$newer" /l "$upgrade_log" || status=$?
refused "in the folder chosen at install, given no folder,"
check "and its log says why" grep -aq "Additions est ouvert sur cet ordinateur" "$scratch/upgrade.log"
stop_game
base_again

# However the game was started: by its short 8.3 name, through a linked
# folder, or by Wine's drive Z:.
short=$(wine cmd /c 'for %I in (C:\Jeux\Additions\additions.exe) do @echo %~sI' 2>/dev/null | tr -d '\r')
ln -s "$programs" "$drive/Lien"
for spelling in "$short" 'C:\Lien\additions.exe' "Z:$(echo "$programs/additions.exe" | tr / '\\')"; do
    if ! check "the game started as $spelling shows its window" start_game "$spelling"; then
        stop_game
        continue
    fi
    status=0
    run_msi /i "$newer" 'INSTALLDIR=C:\Jeux\Additions' || status=$?
    refused "started as $spelling"
    stop_game
    base_again
done
rm "$drive/Lien"

# A game started once the first check has passed: the installer is held
# just after it, the game started, then the installer let go.
log="$scratch/late.log"
wine msiexec /i "$newer" /qn /l "$(winepath -w "$log")" &
installer=$!
for _ in $(seq 600); do
    grep -aq MigrateFeatureStates "$log" 2>/dev/null && break
    sleep 0.05
done
held=""
for pid in $(pgrep -f 'msiexec.exe /i'); do # this prefix's, not another test's
    grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && held="$held $pid"
done
[ -n "$held" ] && kill -STOP $held
check "a game started during the upgrade shows its window" start_game 'C:\Jeux\Additions\additions.exe'
[ -n "$held" ] && kill -CONT $held
status=0
wait $installer || status=$?
refused "started after its first check"
stop_game
base_again

# Copies of the game started and ended again and again during an upgrade:
# it replaces every file and succeeds, or it fails and says so, and never
# lists two versions; a deployment tool's next try, the room empty, replaces
# every file in the folder remembered.
(while [ ! -e "$scratch/upgraded" ]; do
    wine "$programs/additions.exe" --version >/dev/null 2>&1 || true
done) &
copies=$!
sleep 3
status=0
run_msi /i "$newer" /l "$upgrade_log" || status=$?
touch "$scratch/upgraded"
wait $copies || true
wineserver -w
if [ $status = 0 ]; then
    check "an upgrade among short-lived games that succeeds is whole (files $(versions), listed $(installed))" \
        test "$(versions):$(installed)" = "new :1.0.1 "
else
    check "an upgrade among short-lived games that fails says so (status $status, listed $(installed))" \
        test $status = 67 -a "$(installed | wc -w)" -le 1
    grep -a -m1 "ouvert\|remplac\|retir\|utilis" "$scratch/upgrade.log" || true
    check "the upgrade tried again, the room empty, succeeds" run_msi /i "$newer"
fi
check "after the upgrade, listed once as 1.0.1 ($(installed))" test "$(installed)" = "1.0.1 "
check "after the upgrade, every file is the new one's ($(versions))" test "$(versions)" = "new "
check "the upgrade stayed in C:\\Jeux\\Additions" nothing_in_program_files
check "the upgrade kept the class's files" test -f "$programs/pg_service.conf" -a -f "$programs/ecole-ac.crt"

# A rebuild of that version (another OpenSSL) replaces its twin.
check "a rebuild of 1.0.1 installs" run_msi /i "$(winepath -w "$scratch/rebuilt.msi")"
# Read once the installer's processes have all ended, and once: a list read
# while they still wrote it was once seen to differ between two reads.
wineserver -w
listed=$(installed)
check "a rebuild leaves one entry in the list of apps ($listed)" test "$listed" = "1.0.1 "
check "a rebuild replaces the library rebuilt" \
    test "$(tail -c 7 "$programs/libcrypto-3-x64.dll" | tr -d '\0')" = REBUILT
check "a rebuild leaves one copy" nothing_in_program_files

# Uninstalled: every installed file goes; the class's service file (with
# the computer's password) and certificate stay unless EFFACER_CLASSE=1.
check "the uninstall succeeds" run_msi /x "$(winepath -w "$scratch/rebuilt.msi")"
check "no installed file is left" \
    test -z "$(find "$programs" -type f ! -name pg_service.conf ! -name '*.crt' 2>/dev/null)"
check "the class's files are kept by default" \
    test -f "$programs/pg_service.conf" -a -f "$programs/ecole-ac.crt" -a -f "$programs/additions-classe.crt"
check "a reinstall into C:\\Jeux\\Additions succeeds" \
    run_msi /i "$(winepath -w "$scratch/rebuilt.msi")" 'INSTALLDIR=C:\Jeux\Additions'
check "the uninstall with EFFACER_CLASSE=1 succeeds" \
    run_msi /x "$(winepath -w "$scratch/rebuilt.msi")" EFFACER_CLASSE=1
check "with EFFACER_CLASSE=1 nothing is left ($(find "$programs" -type f 2>/dev/null | tr '\n' ' '))" \
    test -z "$(find "$programs" -type f 2>/dev/null)"
check "the Start menu entry is gone" test ! -e "$menu/Additions.lnk"
check "no longer listed ($(installed))" test -z "$(installed)"
check "the child's scores are kept" \
    sh -c "wine reg query 'HKCU\\Software\\MyApp\\Startup' /v 1_joueur 2>/dev/null | grep -q 12"
check "the child's history is kept" test -f "$history"
[ $failures = 0 ] || { echo "$failures checks failed" >&2; exit 1; }
echo "installed, upgraded, rebuilt and uninstalled; scores and history kept"
