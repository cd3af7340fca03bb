#!/usr/bin/env bash
# install_check.sh BUILD_DIR SOURCE_DIR
# Installs BUILD_DIR into a scratch prefix, checks the installed files and the desktop entry,
# then starts the program from the entry's Exec line, ends it with SIGTERM after 2 s and
# expects exit status 0 and a settings file written on the way out.
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "install_check: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || {
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

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate refused the entry"
else
    echo "install_check: desktop-file-validate not found (desktop-file-utils), not run"
fi

# The first value of KEY in the [Desktop Entry] group.
value() {
    awk -v key="$1" '
        /^\[/ { group = $0; next }
        group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$entry"
}
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
exec_line=$(value Exec)
[ -n "$exec_line" ] || fail "no Exec line"
# The icon the entry names is the one installed.
[ -f "$prefix/share/icons/hicolor/scalable/apps/$(value Icon).svg" ] || fail "entry's icon not installed"

# Started as a launcher would: the Exec line's words, field codes dropped, found on PATH.
read -r -a words <<<"$exec_line"
command=()
for w in "${words[@]}"; do
    case "$w" in %[fFuUdDnNickvm]) ;; *) command+=("$w") ;; esac
done
[ "${command[0]}" = camera ] || fail "Exec starts '${command[0]}', not the installed camera"
home=$scratch/home
mkdir -p "$home"
(
    cd "$scratch"
    exec env -u XDG_CONFIG_HOME HOME="$home" PATH="$prefix/bin:$PATH" \
        QT_QPA_PLATFORM=offscreen LANG=de_DE.UTF-8 "${command[@]}" >"$scratch/run.log" 2>&1
) &
pid=$!
# A child that has ended stays a zombie until waited for: kill -0 would still succeed.
alive() { grep -q '^State:[[:space:]]*[^Z[:space:]]' "/proc/$1/status" 2>/dev/null; }
sleep 2
alive "$pid" || { cat "$scratch/run.log" >&2; fail "the program ended by itself"; }
# The binary that runs is the installed one, not one from the build tree.
[ "$(readlink "/proc/$pid/exe" 2>/dev/null || true)" = "$prefix/bin/camera" ] ||
    fail "running $(readlink "/proc/$pid/exe" 2>/dev/null), not $prefix/bin/camera"
kill -TERM "$pid"
(
    trap 'kill "$sleeper"; exit 0' TERM
    sleep 5 & sleeper=$!
    wait "$sleeper"
    kill -KILL "$pid"
) >/dev/null 2>&1 &
watchdog=$!
status=0
wait "$pid" || status=$?
pid=""
kill "$watchdog" 2>/dev/null || true
wait "$watchdog" 2>/dev/null || true
[ "$status" -ne 137 ] || { cat "$scratch/run.log" >&2; fail "still running 5 s after SIGTERM"; }
[ "$status" -eq 0 ] || { cat "$scratch/run.log" >&2; fail "exit status $status after SIGTERM"; }
settings=$home/.config/OrvaneCamera.conf
[ -s "$settings" ] || { cat "$scratch/run.log" >&2; fail "no settings written to $settings"; }
echo "install_check: installed, started from the desktop entry, ended cleanly, settings written"
