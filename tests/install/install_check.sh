#!/usr/bin/env bash
# install_check.sh BUILD_DIR SOURCE_DIR VERSION
# Installs BUILD_DIR into a scratch prefix, checks the installed files, the desktop entry, the
# AppStream data and the programs' command lines, then starts the program from the entry's
# Exec line, ends it with SIGTERM after 2 s and expects exit status 0 and a settings file
# written on the way out.
set -euo pipefail
build=$1
source=$2
version=$3
source "$(dirname "$0")/common.sh"
scratch=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

prefix=$scratch/prefix
# cmake --install writes its manifest into the build tree: as that tree's owner (the one
# who ran sudo), never as root into a user's folder.
as_owner=()
owner=$(stat -c %u "$build")
if [ "$(id -u)" -eq 0 ] && [ "$owner" -ne 0 ]; then
    as_owner=(setpriv --reuid="$owner" --regid="$(stat -c %g "$build")" --clear-groups --)
    chmod 0711 "$scratch"
    install -d -o "$owner" -g "$(stat -c %g "$build")" "$prefix"
fi
"${as_owner[@]}" cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || {
    cat "$scratch/install.log" >&2; fail "cmake --install failed"; }

for f in bin/camera bin/camera-card-emulator bin/camera-card-client; do
    [ -x "$prefix/$f" ] || fail "$f missing or not executable"
done
entry=$prefix/share/applications/orvane-camera.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/orvane-camera.svg
[ -f "$entry" ] || fail "desktop entry missing"
[ -f "$icon" ] || fail "icon missing"
cmp -s "$icon" "$source/platform/icons/camera.svg" || fail "installed icon differs from the program's"
qms=("$prefix"/share/orvane-camera/translations/camera_*.qm)
[ -f "${qms[0]}" ] || fail "no translations installed"
[ -f "$prefix/share/orvane-camera/translations/camera_de.qm" ] || fail "German translation missing"

for page in camera camera-card-emulator camera-card-client; do
    [ -s "$prefix/share/man/man1/$page.1" ] || fail "manual page $page.1 missing"
done
metainfo=$prefix/share/metainfo/org.orvane.camera.metainfo.xml
[ -f "$metainfo" ] || fail "AppStream metainfo missing"
check_command_lines "$prefix/bin" "$version"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate refused the entry"
else
    echo "install_check: desktop-file-validate not found (desktop-file-utils), not run"
fi

if command -v appstreamcli >/dev/null; then
    # --no-net: the screenshot and home page are checked where they are published.
    appstreamcli validate --pedantic --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 ||
        { cat "$scratch/appstream.log" >&2; fail "appstreamcli refused the metainfo"; }
    if grep -q '^[EW]:' "$scratch/appstream.log"; then
        cat "$scratch/appstream.log" >&2; fail "appstreamcli: errors or warnings"
    fi
else
    echo "install_check: appstreamcli not found (appstream), not run"
fi

value() { desktop_value "$entry" "$1"; }
expect() {
    local got
    got=$(value "$1")
    [ "$got" = "$2" ] || fail "$1 is '$got', not '$2'"
}
expect Type Application
expect Name Camera
expect 'Name[de]' Kamera
expect Icon orvane-camera
expect Categories 'Graphics;Photography;'
# The icon the entry names is the one installed.
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(value Icon).svg" ] || fail "entry's icon not installed"

# Started as a launcher would: the Exec line's words, field codes dropped, found on PATH.
read_exec_command "$entry"
command=("${exec_command[@]}")
[ "${command[0]}" = camera ] || fail "Exec starts '${command[0]}', not the installed camera"
home=$scratch/home
mkdir -p "$home"
(
    cd "$scratch"
    exec env -u XDG_CONFIG_HOME HOME="$home" PATH="$prefix/bin:$PATH" \
        QT_QPA_PLATFORM=offscreen LANG=de_DE.UTF-8 "${command[@]}" >"$scratch/run.log" 2>&1
) &
pid=$!
sleep 2
alive "$pid" || { cat "$scratch/run.log" >&2; fail "the program ended by itself"; }
# The binary that runs is the installed one, not one from the build tree.
[ "$(readlink "/proc/$pid/exe" 2>/dev/null || true)" = "$prefix/bin/camera" ] ||
    fail "running $(readlink "/proc/$pid/exe" 2>/dev/null), not $prefix/bin/camera"
terminate "$pid"
pid=""
status=$term_status
[ "$status" -ne 137 ] || { cat "$scratch/run.log" >&2; fail "still running 5 s after SIGTERM"; }
[ "$status" -eq 0 ] || { cat "$scratch/run.log" >&2; fail "exit status $status after SIGTERM"; }
settings=$home/.config/OrvaneCamera.conf
[ -s "$settings" ] || { cat "$scratch/run.log" >&2; fail "no settings written to $settings"; }
echo "install_check: installed, started from the desktop entry, ended cleanly, settings written"
