#!/usr/bin/env bash
# service_check.sh SOURCE_DIR VERSION INSTALL_PROBE
# The camera as installed on an ordinary machine from the two Debian packages (dist/ of
# SOURCE_DIR, built by scripts/package when missing or stale). Checks the emulator
# package's system service: its unit and settings file, installed but neither enabled nor
# started. Then, without systemd, runs the unit's ExecStart with the settings of its
# /etc/default file (the source set to a still picture) as systemd would: its runtime
# folder, its environment (the settings file and Environment=, nothing of the caller's), no
# new privileges and its capability set, in a mount
# namespace with a private /dev, /run and /tmp (and no network) where the packages' files are at their
# installed paths. There an ordinary account in group video, whose HOME lies on the root
# file system, starts the camera from the desktop entry's Exec on a 24-bit X display: the
# live preview shows the picture, the counter a number, and the card's button saves the
# picture in ~/Documents/Image_Files. Then the same on weston (its kiosk shell, drawing into
# that display). Then, as the package sets it (--source auto) with the stand-in webcam
# library it ships preloaded by a drop-in, a laptop's webcam at /dev/video0 (and its
# metadata node at /dev/video1): the service takes the capture node in its 640x480 mode,
# and the camera on X shows the webcam's picture upright in its preview and its picture.
# Then with the webcam named in the settings file: held by another program, the card is
# absent and the journal says the webcam is busy; let go, the card is back by itself;
# unplugged mid-stream, the card is absent; plugged back, it is back, and the camera shows
# the webcam's picture upright again, all without a restart.
# Exit 77 (skipped) with the reason where something it needs is missing;
# without weston, after the X and webcam legs.
set -euo pipefail
source_dir=$1
version=$2
probe=$3
source "$(dirname "$0")/common.sh"

skip() { echo "service_check: skipped: $*"; exit 77; }
fail() { echo "service_check: $*" >&2; exit 1; }

for tool in dpkg-deb dpkg-buildpackage dh lintian fakeroot; do
    command -v "$tool" >/dev/null || skip "$tool not found (scripts/packages.sh installs it)"
done
ensure_packages "$source_dir" "$version"

# HOME must lie on the root file system: /var/tmp does, where /tmp may be a tmpfs.
scratch=$(mktemp -d /var/tmp/service-check.XXXXXX)
chmod 0755 "$scratch"
user=orvane-test
# What the user made, the user removes; root only the folders it made.
cleanup() {
    local d
    for d in "$scratch/home" "$scratch/out"; do
        [ ! -d "$d" ] || setpriv --reuid="$user" --regid="$user" --clear-groups -- \
            find "$d" -mindepth 1 -delete 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT

root=$scratch/root
unpack_packages "$root"

# ---- the unit and its settings ----------------------------------------------------------

unit=
for dir in lib/systemd/system usr/lib/systemd/system; do
    [ -f "$root/$dir/orvane-camera-card.service" ] && unit=$root/$dir/orvane-camera-card.service
done
[ -n "$unit" ] || fail "orvane-camera-card.service is not in the emulator's package"
case "$unit" in
$root/lib/*) [ -L /lib ] || skip "unit checked; /lib is no link to /usr/lib here" ;;
esac
defaults=$root/etc/default/orvane-camera-card
[ -f "$defaults" ] || fail "/etc/default/orvane-camera-card is not in the emulator's package"
mkdir "$scratch/control"
dpkg-deb -e "$emulator_deb" "$scratch/control"
grep -qx /etc/default/orvane-camera-card "$scratch/control/conffiles" ||
    fail "/etc/default/orvane-camera-card is no conffile"
# Installing must not switch a webcam on: the postinst starts nothing (run below, it
# enables nothing either).
if grep -q 'deb-systemd-invoke' "$scratch/control/postinst" 2>/dev/null; then
    fail "the package's postinst starts the service"
fi

# The value of KEY in the unit's [Service] section (the last one given).
unit_value() {
    awk -v key="$1" '
        /^\[/ { section = $0; next }
        section == "[Service]" && index($0, key "=") == 1 { value = substr($0, length(key) + 2) }
        END { print value }
    ' "$unit"
}
default_value() { sed -n "s/^$1=//p" "$defaults" | tail -n 1; }
[ "$(default_value SOURCE)" = auto ] || fail "SOURCE is '$(default_value SOURCE)', not auto"
[ "$(default_value OWNER)" = root:video ] || fail "OWNER is '$(default_value OWNER)', not root:video"
[ -n "$(default_value FRAME_MS)" ] || fail "no FRAME_MS in the settings file"
[ "$(unit_value EnvironmentFile)" = /etc/default/orvane-camera-card ] ||
    fail "the unit reads its settings from '$(unit_value EnvironmentFile)'"
runtime_dir=$(unit_value RuntimeDirectory)
[ -n "$runtime_dir" ] || fail "the unit has no RuntimeDirectory"
exec_start=$(unit_value ExecStart)
[ -n "$exec_start" ] || fail "the unit has no ExecStart"
if command -v systemd-analyze >/dev/null; then
    # Offline: the unit's own syntax, with its program at the path it names.
    mkdir -p "$scratch/analyze"
    sed "s#/usr/bin/camera-card-emulator#$root/usr/bin/camera-card-emulator#" "$unit" \
        >"$scratch/analyze/orvane-camera-card.service"
    SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no \
        "$scratch/analyze/orvane-camera-card.service" >"$scratch/analyze.out" 2>&1 ||
        { cat "$scratch/analyze.out" >&2; fail "systemd-analyze verify refused the unit"; }
    ! grep -v 'Failed to\|Cannot add dependency\|is not executable' "$scratch/analyze.out" |
        grep -q . || { cat "$scratch/analyze.out" >&2; fail "systemd-analyze warns about the unit"; }
fi

# ---- the run ----------------------------------------------------------------------------

[ "$(id -u)" -eq 0 ] || skip "unit checked; the run needs root (namespace, /dev links)"
for tool in unshare setpriv Xvfb xdotool import; do
    command -v "$tool" >/dev/null || skip "unit checked; $tool not found (scripts/packages.sh)"
done
( exec 3<>/dev/fuse ) 2>/dev/null || skip "unit checked; /dev/fuse cannot be opened"
grep -q '^overlay$' <(awk '{print $2}' /proc/filesystems) ||
    skip "unit checked; no overlay file system to lay the packages over /usr"
id "$user" >/dev/null 2>&1 || fail "no account $user (the test_account test makes it)"
getent group video >/dev/null || skip "unit checked; no group video"

# As an administrator would set it: the card shows a still picture; owner and frame time as
# the file has them.
"$probe" scene "$scratch/scene.png" || fail "cannot write the scene"
mkdir "$scratch/default"
sed "s#^SOURCE=.*#SOURCE=image:$scratch/scene.png#" "$defaults" >"$scratch/default/orvane-camera-card"

home=$scratch/home
mkdir -m 0755 "$home" "$scratch/out"
chown "$user:" "$home" "$scratch/out"

export unit_exec_start=$exec_start
export unit_exec_stop_post=$(unit_value ExecStopPost)
[ -n "$unit_exec_stop_post" ] || fail "the unit has no ExecStopPost: a service without root leaves its links"
export unit_runtime_dir=$runtime_dir
export unit_no_new_privileges=$(unit_value NoNewPrivileges)
export unit_capabilities=$(unit_value CapabilityBoundingSet)
export unit_file=${unit#"$root"}
wayland_leg=yes
for tool in weston weston-screenshooter; do
    command -v "$tool" >/dev/null || { wayland_leg=no; missing=$tool; }
done
# The probe runs as the user in a namespace whose /tmp is empty: from the build tree, which
# may lie under /tmp or in a folder the user may not enter, it comes along into the scratch.
install -m 0755 -D "$probe" "$scratch/bin/install_probe"
probe=$scratch/bin/install_probe
export scratch root home user probe wayland_leg source_dir
unshare --mount --net --propagation private -- bash "$(dirname "$0")/service_run.sh" \
    || fail "the run failed (above)"
[ "$wayland_leg" = yes ] || skip "X leg passed; weston leg not run: $missing not found (scripts/packages.sh)"
