#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks what a desktop and Debian see of the game: its menu entry, its
# AppStream data, its .deb, and an installed copy that must start.
# Usage: check_packaging.sh desktop|metainfo|deb|installed SOURCE_DIR BUILD_DIR
set -euo pipefail
what=$1 source=$2 build=$3
id=fr.atelier_additions.Additions
fail() { echo "FAIL: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $what in
desktop)
    # desktop-file-validate exits 0 even when it has something to say.
    for entry in $id $id.Progres; do
        out=$(desktop-file-validate "$source/packaging/$entry.desktop" 2>&1) || fail "$out"
        [ -z "$out" ] || fail "desktop-file-validate: $out"
    done
    grep -qx 'Exec=additions-progres' "$source/packaging/$id.desktop" ||
        fail "the game's action does not open additions-progres"
    for line in 'Categories=Education;Math;' StartupNotify=true StartupWMClass=$id; do
        grep -qx "$line" "$source/packaging/$id.desktop" || fail "no $line"
    done
    ;;
metainfo)
    appstreamcli validate --no-net --strict "$source/packaging/$id.metainfo.xml"
    ;;
deb)
    cpack --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
    deb=$(ls "$scratch"/additions_*.deb)
    out=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian: $out"
    echo "${out:-lintian: no complaints}"
    [ "$(dpkg-deb -f "$deb" Section)" = education ] || fail "section is not education"
    dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no shared library dependencies"
    dpkg-deb -f "$deb" Depends | grep -q 'libcanberra0' || fail "libcanberra, loaded at run time, is not a dependency"
    dpkg-deb -f "$deb" Depends | grep -q 'libqt6sql6-sqlite' || fail "the history's SQLite driver is not a dependency"
    dpkg-deb -f "$deb" Recommends | grep -q 'qt6-wayland' || fail "qt6-wayland not recommended"
    contents=$(dpkg-deb -c "$deb")
    for file in usr/bin/additions usr/share/applications/$id.desktop \
        usr/share/metainfo/$id.metainfo.xml usr/share/icons/hicolor/scalable/apps/$id.svg \
        usr/share/doc/additions/copyright usr/share/doc/additions/changelog.gz \
        usr/share/man/man6/additions.6.gz usr/share/man/fr/man6/additions.6.gz \
        usr/bin/additions-progres usr/share/applications/$id.Progres.desktop \
        usr/share/man/man6/additions-progres.6.gz usr/share/additions/classe.sql; do
        grep -q " \./$file\$" <<<"$contents" || fail "$file missing from the package"
    done
    ;;
installed)
    DESTDIR="$scratch/stage" cmake --install "$build" --prefix /usr >/dev/null
    root="$scratch/stage/usr"
    for file in share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
        share/icons/hicolor/scalable/apps/$id.svg; do
        [ -f "$root/$file" ] || fail "$file not installed"
    done
    version=$("$root/bin/additions" --version) || fail "--version failed"
    [ "$version" = "Additions 1.0.0" ] || fail "--version says '$version'"
    help=$(XDG_CONFIG_HOME="$scratch/config" "$root/bin/additions" --help)
    grep -q 'Affiche la version' <<<"$help" || fail "--help is not in French"
    grep -qF "$scratch/config/MyApp.conf" <<<"$help" || fail "--help does not name the score file"
    # The adults' program exports; the game has no such option.
    XDG_DATA_HOME="$scratch/data" "$root/bin/additions-progres" --exporter "$scratch/history.csv" ||
        fail "--exporter failed"
    grep -q 'joueur;niveau' "$scratch/history.csv" || fail "the export has no header"
    for program in additions additions-progres; do
        ! nm -D "$root/bin/$program" | grep -q QPluginLoader || fail "$program loads plugins of its own"
    done
    # Without options it runs until its window is closed. Still running after
    # three seconds means it started and found what it needs.
    mkdir -p "$scratch/config"
    for program in additions additions-progres; do
        status=0
        QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
            timeout 3 "$root/bin/$program" || status=$?
        [ "$status" -eq 124 ] || fail "the installed $program stopped with status $status"
    done
    ;;
*) fail "unknown check $what" ;;
esac
echo "ok: $what"
