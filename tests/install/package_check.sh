#!/usr/bin/env bash
# package_check.sh SOURCE_DIR VERSION
# Unpacks the Debian packages (dist/ of SOURCE_DIR, built by scripts/package when missing or
# older than a source file) into a scratch root and checks that every file is where the
# desktop, man and the tools look for it, that the dependencies came from the libraries the
# programs link, and that the camera started by its desktop entry's command from that root
# runs against the emulator from that root: it takes a picture with the card's button and
# ends with status 0 on SIGTERM, its settings written. Exit 77 (skipped) with the reason
# where a package tool or the run's needs are missing.
set -euo pipefail
source_dir=$1
version=$2
source "$(dirname "$0")/common.sh"

skip() { echo "package_check: skipped: $*"; exit 77; }
fail() { echo "package_check: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg-buildpackage dh lintian fakeroot man; do
    command -v "$tool" >/dev/null || skip "$tool not found (scripts/packages.sh installs it)"
done

# ---- the packages -----------------------------------------------------------------------

ensure_packages "$source_dir" "$version"

scratch=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    local m
    for m in "$scratch/card" "$scratch/home"; do
        if mountpoint -q "$m" 2>/dev/null; then umount -l "$m" || true; fi
    done
    rm -rf "$scratch"
}
trap cleanup EXIT

root=$scratch/root
unpack_packages "$root"

# Versions: the packages' and the programs' are the project's.
for deb in "$camera_deb" "$emulator_deb"; do
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] ||
        fail "$(basename "$deb"): version $(dpkg-deb -f "$deb" Version), not $version"
done
check_command_lines "$root/usr/bin" "$version"

# Dependencies found from the linked libraries, plus what is loaded at run time.
depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//'; }
for need in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libqt6svg6 qt6-qpa-plugins; do
    depends "$camera_deb" | grep -qx "$need" || fail "orvane-camera does not depend on $need"
done
for need in libc6 libfuse3-3 libqt6gui6 fuse3; do
    depends "$emulator_deb" | grep -qx "$need" ||
        fail "orvane-camera-card-emulator does not depend on $need"
done

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for f in usr/bin/camera usr/bin/camera-card-emulator usr/bin/camera-card-client; do
    [ -x "$root/$f" ] || fail "$f missing or not executable"
done
expect_file() { [ -f "$root/$1" ] || fail "$1 missing"; }
expect_file "usr/lib/$multiarch/orvane-camera-card-emulator/liborvane_slotstat.so"
# The camera finds installed translations beside its binary: bin/../share/orvane-camera.
expect_file usr/share/orvane-camera/translations/camera_de.qm
for p in orvane-camera orvane-camera-card-emulator; do
    expect_file "usr/share/doc/$p/copyright"
    expect_file "usr/share/doc/$p/changelog.gz"
done

# Manual pages: where man looks, rendered without a warning, every option of --help listed.
for page in camera camera-card-emulator camera-card-client; do
    file=$root/usr/share/man/man1/$page.1.gz
    [ -f "$file" ] || fail "usr/share/man/man1/$page.1.gz missing"
    MANWIDTH=80 man --warnings -l "$file" >"$scratch/$page.txt" 2>"$scratch/man.err" ||
        fail "man -l $page.1.gz failed"
    [ ! -s "$scratch/man.err" ] || { cat "$scratch/man.err" >&2; fail "man warns about $page.1"; }
    grep -q "^NAME" "$scratch/$page.txt" || fail "$page.1 renders without a NAME section"
    for option in $(env -i "$root/usr/bin/$page" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" "$scratch/$page.txt" || fail "$page.1 does not describe $option"
    done
done

# The desktop entry and its icon where menus look; the AppStream data where software
# centres look, naming the entry and the program that are there.
entry=$root/usr/share/applications/orvane-camera.desktop
[ -f "$entry" ] || fail "usr/share/applications/orvane-camera.desktop missing"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "desktop-file-validate refused the entry"
fi
icon=$(desktop_value "$entry" Icon)
expect_file "usr/share/icons/hicolor/scalable/apps/$icon.svg"
metainfo=$(ls "$root"/usr/share/metainfo/*.metainfo.xml 2>/dev/null | head -n 1)
[ -n "$metainfo" ] || fail "no AppStream metainfo in usr/share/metainfo"
grep -q '<launchable type="desktop-id">orvane-camera.desktop</launchable>' "$metainfo" ||
    fail "the metainfo does not launch orvane-camera.desktop"
grep -q "<icon type=\"stock\">$icon</icon>" "$metainfo" || fail "the metainfo's icon is not $icon"
grep -q '<binary>camera</binary>' "$metainfo" || fail "the metainfo does not provide camera"
grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no screenshot"

# ---- the camera from the unpacked tree, against the emulator from it --------------------

[ "$(id -u)" -eq 0 ] || skip "files checked; the run needs root (tmpfs HOME, a /dev of its own)"
command -v unshare >/dev/null || skip "files checked; unshare not found (util-linux)"
( exec 3<>/dev/fuse ) 2>/dev/null || skip "files checked; /dev/fuse cannot be opened"

# HOME on a file system of its own, as on the handheld (service_check runs it on the root
# file system).
mkdir -p "$scratch/home"
mount -t tmpfs -o size=16m,mode=0755 package-check-home "$scratch/home" ||
    skip "files checked; cannot mount a tmpfs for HOME"
home=$scratch/home/user
mkdir -p "$home"

"$root/usr/bin/camera-card-emulator" --mount "$scratch/card" --log "$scratch/card.log" \
    --frame-ms 10 >"$scratch/emulator.out" 2>&1 &
emulator=$!
pids+=("$emulator")
for waited in $(seq 50); do
    grep -q '^ready' "$scratch/emulator.out" && break
    alive "$emulator" || break
    sleep 0.1
done
grep -q '^ready' "$scratch/emulator.out" ||
    { cat "$scratch/emulator.out" >&2; fail "the emulator did not come up"; }

read_exec_command "$entry"
[ "${exec_command[0]}" = camera ] || fail "Exec starts '${exec_command[0]}', not camera"
# The camera opens the fixed /dev/orvane_* paths. It gets a /dev of its own, in a mount
# namespace of its own, where they lead to this emulator: no other test's card meets it.
mkdir -p "$scratch/dev"
export -f fill_private_dev
(
    cd "$scratch"
    # No session bus: the camera must not meet other tests' programs on a shared one.
    exec env -u XDG_CONFIG_HOME -u DBUS_SESSION_BUS_ADDRESS HOME="$home" \
        PATH="$root/usr/bin:/usr/bin:/bin" QT_QPA_PLATFORM=offscreen \
        unshare --mount --propagation private -- bash -c '
            set -e
            dev=$1 card=$2
            shift 2
            fill_private_dev "$dev"
            ln -s "$card/vdc" "$dev/orvane_vdc"
            ln -s "$card/buz" "$dev/orvane_buz"
            mount --move "$dev" /dev
            exec "$@"
        ' private-dev "$scratch/dev" "$scratch/card" "${exec_command[@]}" \
        >"$scratch/camera.out" 2>&1
) &
camera=$!
pids+=("$camera")

card_log() { cat "$scratch/card.log" 2>/dev/null || true; }
waited=0
frame_read() { card_log | grep -E '^read [0-9]+ [0-9]+$' | grep -qv '^read 4 '; }
until frame_read; do
    alive "$camera" || { cat "$scratch/camera.out" >&2; fail "the camera ended by itself"; }
    [ $((waited += 1)) -lt 100 ] ||
        { cat "$scratch/camera.out" >&2; fail "no frame read from the card in 10 s"; }
    sleep 0.1
done
[ "$(readlink "/proc/$camera/exe" 2>/dev/null || true)" = "$root/usr/bin/camera" ] ||
    fail "running $(readlink "/proc/$camera/exe" 2>/dev/null), not $root/usr/bin/camera"

# The card's button: a JPEG picture on the internal storage.
echo shutter >"$scratch/card/control" || fail "cannot press the card's button"
picture=$home/Documents/Image_Files/pic0001.jpg
for waited in $(seq 100); do
    [ -s "$picture" ] && break
    sleep 0.1
done
[ -s "$picture" ] || { cat "$scratch/camera.out" >&2; fail "no picture after the card's button"; }
[ "$(head -c 2 "$picture" | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "$picture is no JPEG"
card_log | grep -qx 'ioctl 0x5680 2' || fail "the buzzer did not click for the card's button"

terminate "$camera"
[ "$term_status" -ne 137 ] || { cat "$scratch/camera.out" >&2; fail "still running 5 s after SIGTERM"; }
[ "$term_status" -eq 0 ] || { cat "$scratch/camera.out" >&2; fail "exit status $term_status after SIGTERM"; }
settings=$home/.config/OrvaneCamera.conf
[ -s "$settings" ] || fail "no settings written to $settings"
grep -q '^Serial=1$' "$settings" || fail "settings do not record picture 1: $(cat "$settings")"
[ "$(card_log | tail -n 2 | tr '\n' ' ')" = "write M=0 close " ] ||
    fail "the card was not left stopped and closed: $(card_log | tail -n 2 | tr '\n' ' ')"
echo "package_check: unpacked, files in place, camera from the desktop entry took a picture" \
    "and ended cleanly, settings written"
