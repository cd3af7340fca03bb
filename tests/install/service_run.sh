#!/usr/bin/env bash
# The run of service_check.sh, inside its mount namespace (as root); its variables come in
# through the environment. Prints the counter it read and exits non-zero on the first fault.
set -euo pipefail
source "$(dirname "$0")/common.sh"
# The virtual PDA's screen (read before /tmp, where the checkout may lie, is covered).
source "$source_dir/scripts/virtual-pda"
fail() { echo "service_check: $*" >&2; exit 1; }
pids=()
finish() {
    local p
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap finish EXIT

# A /dev of its own, as package_check makes it, with /dev/fuse for the emulator.
dev=$scratch/dev
mkdir "$dev"
fill_private_dev "$dev" fuse
mount --move "$dev" /dev
mount -t tmpfs -o mode=0755,size=1m service-run /run
mount -t tmpfs -o mode=1777,size=16m service-tmp /tmp
# The packages' files at the paths they install to, over the machine's own (/lib is a link
# to /usr/lib, checked before).
mkdir -p "$scratch/units/lib"
[ ! -d "$root/lib" ] || cp -a "$root/lib/." "$scratch/units/lib/"
mount -t overlay overlay -o "lowerdir=$root/usr:$scratch/units:/usr" /usr
mount -t overlay overlay -o "lowerdir=$scratch/default:/etc/default" /etc/default
[ -f "$unit_file" ] || fail "$unit_file is not where systemd looks"

# ---- installed, not enabled ----------------------------------------------------------------

# The package's postinst as dpkg runs it at installation, on systemd's folders of this
# namespace's own: it must leave the service disabled, and the administrator's enable then
# makes the link it lacked.
mount -t tmpfs -o mode=0755 service-units /etc/systemd/system
mount -t tmpfs -o mode=0755 service-state /var/lib/systemd
DPKG_MAINTSCRIPT_PACKAGE=orvane-camera-card-emulator DPKG_MAINTSCRIPT_NAME=postinst \
    sh "$scratch/control/postinst" configure >"$scratch/postinst.out" 2>&1 ||
    { cat "$scratch/postinst.out" >&2; fail "the postinst failed"; }
wants=/etc/systemd/system/multi-user.target.wants/orvane-camera-card.service
[ ! -e "$wants" ] && [ ! -L "$wants" ] || fail "installing the package enabled the service"
if command -v systemctl >/dev/null; then
    systemctl --root=/ enable orvane-camera-card >"$scratch/enable.out" 2>&1 ||
        { cat "$scratch/enable.out" >&2; fail "systemctl enable orvane-camera-card failed"; }
    [ -L "$wants" ] || fail "systemctl enable made no link $wants"
fi
umount /etc/systemd/system /var/lib/systemd
# The postinst made the service's account (sysusers.d): no root, a member of group video.
account=$(getent passwd orvane-card) || fail "installing the package made no account orvane-card"
[ "$(cut -d: -f3 <<<"$account")" -ne 0 ] || fail "orvane-card is root"
id -nG orvane-card | grep -qw video || fail "orvane-card is not in group video"

# ---- the service, started as systemd starts it -------------------------------------------

# RuntimeDirectory=: a folder of root's under /run, mode 0755 by default.
mkdir -m 0755 "/run/$unit_runtime_dir"
# EnvironmentFile=: KEY=VALUE lines; quotes around a value are dropped.
declare -A settings
while IFS= read -r line; do
    [[ "$line" =~ ^([A-Za-z_][A-Za-z0-9_]*)=(.*)$ ]] || continue
    key=${BASH_REMATCH[1]}
    value=${BASH_REMATCH[2]}
    if [[ "$value" =~ ^\"(.*)\"$ || "$value" =~ ^\'(.*)\'$ ]]; then value=${BASH_REMATCH[1]}; fi
    settings[$key]=$value
done </etc/default/orvane-camera-card
# A command line of the unit into the array command: words split at blanks, a leading "-"
# (failure ignored) dropped; %t is /run, ${NAME} one word of the setting's value.
unit_command() {
    local word
    command=()
    for word in ${1#-}; do
        word=${word//%t//run}
        case "$word" in
        *\"* | *\'* | *\$[A-Za-z]*) fail "the unit's word '$word' is beyond this test's expansion" ;;
        esac
        while [[ "$word" =~ \$\{([A-Za-z_][A-Za-z0-9_]*)\} ]]; do
            word=${word/"${BASH_REMATCH[0]}"/"${settings[${BASH_REMATCH[1]}]-}"}
        done
        command+=("$word")
    done
}
# NoNewPrivileges= and CapabilityBoundingSet= as setpriv gives them.
limits=(--inh-caps=-all)
[ "$unit_no_new_privileges" = yes ] && limits+=(--no-new-privs)
if [ -n "$unit_capabilities" ]; then
    caps=-all
    for cap in $unit_capabilities; do
        cap=${cap#CAP_}
        caps+=",+${cap,,}"
    done
    limits+=(--bounding-set="$caps")
fi
# Environment= of the unit and then of its drop-ins in /etc/systemd/system (an
# administrator's, as `systemctl edit` writes them), in the order systemd reads them, into
# the array unit_environment: assignments split at blanks; an empty one clears the list.
read_unit_environment() {
    local file value word words
    unit_environment=()
    for file in "$unit_file" /etc/systemd/system/orvane-camera-card.service.d/*.conf; do
        [ -f "$file" ] || continue
        while IFS= read -r value; do
            [ -n "$value" ] || { unit_environment=(); continue; }
            read -r -a words <<<"$value"
            for word in "${words[@]}"; do
                case "$word" in
                *\"* | *\'* | *%* | *\\*) fail "the assignment '$word' is beyond this test's expansion" ;;
                ?*=*) unit_environment+=("$word") ;;
                *) fail "'$word' in $file is no assignment" ;;
                esac
            done
        done < <(awk '/^\[/ { section = $0; next }
                      section == "[Service]" && index($0, "Environment=") == 1 { print substr($0, 13) }' "$file")
    done
}
# The service as systemd starts it (ExecStart, with the unit's limits), in the background:
# sets emulator. Its environment is systemd's, not this script's: the manager's PATH, the
# unit's Environment=, the settings file's, which win, and the runtime folder's path.
start_service() {
    local key environment
    unit_command "$unit_exec_start"
    read_unit_environment
    environment=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin "${unit_environment[@]}")
    for key in "${!settings[@]}"; do environment+=("$key=${settings[$key]}"); done
    environment+=("RUNTIME_DIRECTORY=/run/$unit_runtime_dir")
    echo "service_check: ExecStart ${command[*]}"
    [ ${#unit_environment[@]} -eq 0 ] || echo "service_check: Environment= ${unit_environment[*]}"
    env -i "${environment[@]}" setpriv "${limits[@]}" -- "${command[@]}" >"$scratch/emulator.out" 2>&1 &
    emulator=$!
    pids+=("$emulator")
}
# Ends it as systemd stops it: SIGTERM, then ExecStopPost as root.
stop_service() {
    terminate "$emulator"
    [ "$term_status" -eq 0 ] || { cat "$scratch/emulator.out" >&2; fail "the service ended with status $term_status"; }
    unit_command "$unit_exec_stop_post"
    "${command[@]}" || fail "ExecStopPost ${command[*]} failed"
}
# Waits for the service to serve ("ready", root given up) and checks that it linked the card
# and serves as its own account with no capability and no way back to root.
check_serving() {
    local waited cap node
    for waited in $(seq 100); do
        grep -q '^ready' "$scratch/emulator.out" && break
        alive "$emulator" || break
        sleep 0.1
    done
    [ -e /dev/orvane_vdc ] && [ -e /dev/orvane_buz ] ||
        { cat "$scratch/emulator.out" >&2; fail "the service linked no card into /dev"; }
    grep -E '^(Uid|Gid|Groups|CapInh|CapPrm|CapEff|CapBnd|CapAmb|NoNewPrivs):' "/proc/$emulator/status" \
        >"$scratch/emulator.status"
    sed 's/^/service_check: the serving emulator: /' "$scratch/emulator.status"
    grep -qP "^Uid:\t$card_uid\t$card_uid\t$card_uid\t$card_uid\$" "$scratch/emulator.status" ||
        fail "the serving emulator is not orvane-card"
    grep -qP "^Gid:\t(\d+)\t\1\t\1\t\1\$" "$scratch/emulator.status" &&
        ! grep -qP "^Gid:\t0\t" "$scratch/emulator.status" || fail "the serving emulator's group is root's"
    grep -qP "^Groups:.*\b$(getent group video | cut -d: -f3)\b" "$scratch/emulator.status" ||
        fail "the serving emulator is not in group video"
    for cap in CapInh CapPrm CapEff CapAmb; do
        grep -qP "^$cap:\t0+\$" "$scratch/emulator.status" || fail "the serving emulator holds capabilities ($cap)"
    done
    for node in /dev/orvane_vdc /dev/orvane_buz; do
        [ "$(stat -L -c '%U:%G %a' "$node")" = "root:video 660" ] ||
            fail "$node is $(stat -L -c '%U:%G %a' "$node"), not root:video 660"
    done
}
card_uid=$(id -u orvane-card)
start_service
check_serving
control=$(dirname "$(readlink /dev/orvane_vdc)")/control

# ---- the user ---------------------------------------------------------------------------

[ "$(stat -c %d "$home")" = "$(stat -c %d /)" ] || fail "$home does not lie on the root file system"
# The user's command prefix; each program execs the next, so a background job's $! is the
# program itself.
user_command=(setpriv --reuid="$user" --regid="$user" --groups="$(getent group video | cut -d: -f3)"
              --inh-caps=-all -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8)
as_user() { "${user_command[@]}" "$@"; }
read_exec_command /usr/share/applications/orvane-camera.desktop

# camera_leg NAME SCREEN SCENE [ENV...]: starts the camera from the desktop entry with ENV on
# the display that SCREEN_screenshot photographs, checks that the preview shows SCENE (an
# install_probe scene) and the counter a number, takes a picture with the card's button,
# checks that it shows SCENE and closes the camera.
camera_leg() {
    local name=$1 screen=$2 scene=$3 window_x window_y shot counter="" picture status
    shift 3
    (cd "$home" && exec "${user_command[@]}" "$@" "${exec_command[@]}") \
        >"$scratch/camera-$name.out" 2>&1 &
    local camera=$!
    pids+=("$camera")
    shot=$scratch/out/$name.png
    local deadline=$((SECONDS + 30))
    while [ "$SECONDS" -lt "$deadline" ]; do
        alive "$camera" || { cat "$scratch/camera-$name.out" >&2; fail "$name: the camera ended by itself"; }
        if "${screen}_window_at" && "${screen}_screenshot" "$shot" &&
            counter=$(as_user "$probe" screen "$shot" "$window_x" "$window_y" "$scene" 2>"$scratch/probe.err"); then
            break
        fi
        counter=""
        sleep 0.5
    done
    [ -n "$counter" ] || { cat "$scratch/probe.err" "$scratch/camera-$name.out" >&2; fail "$name: no preview of the picture"; }
    [[ "$counter" =~ ^counter\ [0-9]+$ ]] || fail "$name: the $counter, not a number"
    echo "service_check: $name: the preview shows the $scene picture; $counter with HOME on the root file system"

    picture=$home/Documents/Image_Files/pic0001.jpg
    echo shutter >"$control" || fail "cannot press the card's button"
    for waited in $(seq 100); do
        [ -s "$picture" ] && break
        sleep 0.1
    done
    [ -s "$picture" ] || { cat "$scratch/camera-$name.out" >&2; fail "$name: no picture after the card's button"; }
    sleep 0.5
    as_user "$probe" picture "$picture" "$scene" || fail "$name: the picture is not the card's $scene picture"
    terminate "$camera"
    [ "$term_status" -eq 0 ] || { cat "$scratch/camera-$name.out" >&2; fail "$name: exit status $term_status after SIGTERM"; }
    echo "service_check: $name: picture $(basename "$picture") saved, camera ended cleanly"
    as_user rm -rf "$home/Documents" "$home/.config"
}

# The X leg: a 24-bit display, no window manager, the window where X puts it.
# X's abstract socket is the network namespace's: the run has one of its own.
pda_as_user=("${user_command[@]}")
pda_start_xvfb 800x600x24 "$scratch/out" || fail "Xvfb did not start"
pids+=("$pda_xvfb_pid")
display=$pda_display
xauthority=$pda_xauthority
x11_window_at() {
    local id geometry
    id=$(as_user DISPLAY="$display" XAUTHORITY="$xauthority" timeout 5 xdotool search --onlyvisible --name '^Camera$' 2>/dev/null | head -n 1)
    [ -n "$id" ] || return 1
    geometry=$(as_user DISPLAY="$display" XAUTHORITY="$xauthority" xdotool getwindowgeometry --shell "$id") || return 1
    window_x=$(sed -n 's/^X=//p' <<<"$geometry")
    window_y=$(sed -n 's/^Y=//p' <<<"$geometry")
}
x11_screenshot() { as_user DISPLAY="$display" XAUTHORITY="$xauthority" timeout 5 import -window root "$1" 2>/dev/null; }
camera_leg x11 x11 still DISPLAY="$display" XAUTHORITY="$xauthority"

# The weston leg: weston drawing with pixman (so that it can be photographed) into a window
# on the X leg's 24-bit display, whose kiosk shell fills its 240x320 output with the
# window. Not the headless back end: weston 10's kiosk shell shows no window there (its
# screenshots stay black).
if [ "$wayland_leg" = yes ]; then
    runtime=$scratch/out/runtime
    as_user mkdir -m 0700 "$runtime"
    "${user_command[@]}" XDG_RUNTIME_DIR="$runtime" DISPLAY="$display" XAUTHORITY="$xauthority" weston --backend=x11-backend.so --shell=kiosk-shell.so \
        --socket=wayland-7 --width=240 --height=320 --use-pixman --debug >"$scratch/weston.out" 2>&1 &
    pids+=($!)
    for waited in $(seq 50); do [ -S "$runtime/wayland-7" ] && break; sleep 0.1; done
    [ -S "$runtime/wayland-7" ] || { cat "$scratch/weston.out" >&2; fail "weston did not start"; }
    wayland_window_at() { window_x=0; window_y=0; }
    wayland_screenshot() {
        rm -f "$scratch"/out/wayland-screenshot-*.png
        (cd "$scratch/out" && as_user XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-7 \
            timeout 5 weston-screenshooter) >"$scratch/screenshooter.out" 2>&1 || return 1
        local made
        made=$(ls "$scratch"/out/wayland-screenshot-*.png 2>/dev/null | head -n 1)
        [ -n "$made" ] && cp "$made" "$1"
    }
    camera_leg wayland wayland still XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-7 QT_QPA_PLATFORM=wayland
fi

# ---- the service stopped ----------------------------------------------------------------

card_mount=$(dirname "$control")
stop_service
[ ! -e /dev/orvane_vdc ] && [ ! -L /dev/orvane_vdc ] && [ ! -L /dev/orvane_buz ] ||
    fail "the links stayed in /dev after the service stopped"
! mountpoint -q "$card_mount" || fail "the card stayed mounted at $card_mount after the service stopped"
echo "service_check: the service linked the card, served it to $user, and its links and mount went"

# ---- a source file the service's account may not read ----------------------------------

mkdir -m 0700 "$scratch/private"
cp "$scratch/scene.png" "$scratch/private/"
settings[SOURCE]=image:$scratch/private/scene.png
start_service
for waited in $(seq 100); do
    grep -q 'source error' "$scratch/emulator.out" && break
    alive "$emulator" || break
    sleep 0.1
done
grep -q "source error .*private/scene.png.*Permission denied" "$scratch/emulator.out" ||
    { cat "$scratch/emulator.out" >&2; fail "no source error in the journal for a file the service may not read"; }
echo "service_check: the journal says: $(grep -m1 'source error' "$scratch/emulator.out")"
stop_service

# ---- a webcam, as the service finds it ----------------------------------------------------

# A laptop's USB webcam: the stand-in webcam library that the emulator's package ships,
# preloaded by a drop-in as an administrator adds one (systemctl edit), answers at
# /dev/video0 and at its metadata node /dev/video1, nodes of group video as udev makes them.
# The source as the package sets it, auto, must take the capture node.
shim=$(ls /usr/lib/*/orvane-camera-card-emulator/liborvane_webcam.so 2>/dev/null | head -n 1)
[ -n "$shim" ] || fail "the emulator's package has no stand-in webcam library"
for node in /dev/video0 /dev/video1; do
    : >"$node"
    chown root:video "$node"
    chmod 0660 "$node"
done
mount -t tmpfs -o mode=0755 service-units /etc/systemd/system
mkdir /etc/systemd/system/orvane-camera-card.service.d
printf '%s\n' '[Service]' "Environment=LD_PRELOAD=$shim" \
    'Environment=WEBCAM_SHIM=/dev/video0=laptop;/dev/video1=meta' \
    >/etc/systemd/system/orvane-camera-card.service.d/webcam.conf
if command -v systemd-analyze >/dev/null; then
    SYSTEMD_LOG_LEVEL=warning systemd-analyze verify --man=no "$unit_file" >"$scratch/analyze-webcam.out" 2>&1 ||
        { cat "$scratch/analyze-webcam.out" >&2; fail "systemd-analyze verify refused the unit with the drop-in"; }
    ! grep -v 'Failed to\|Cannot add dependency\|is not executable' "$scratch/analyze-webcam.out" |
        grep -q . || { cat "$scratch/analyze-webcam.out" >&2; fail "systemd-analyze warns about the drop-in"; }
fi
settings[SOURCE]=$(sed -n 's/^SOURCE=//p' "$root/etc/default/orvane-camera-card" | tail -n 1)
start_service
check_serving
# Each once: the journal is read by people.
[ "$(grep -c '^camera-card-emulator: source ' "$scratch/emulator.out")" -eq 2 ] &&
    grep -qx "camera-card-emulator: source auto v4l2:/dev/video0" "$scratch/emulator.out" &&
    grep -qx "camera-card-emulator: source v4l2:/dev/video0 YUYV 640x480 30/1" "$scratch/emulator.out" ||
    { cat "$scratch/emulator.out" >&2; fail "the journal does not say once that --source auto took the webcam's capture node in its 640x480 mode"; }
echo "service_check: the journal says: $(grep -m1 'source v4l2:' "$scratch/emulator.out")"
control=$(dirname "$(readlink /dev/orvane_vdc)")/control
camera_leg webcam x11 webcam DISPLAY="$display" XAUTHORITY="$xauthority"
stop_service
echo "service_check: the service took the webcam at /dev/video0 by itself and served its picture upright"

# ---- the webcam held by another program, then unplugged --------------------------------

# The webcam named in the settings file (auto shows the test card while no webcam
# delivers). While the file WEBCAM_SHIM_HELD names exists another program holds the webcam;
# a node removed is the webcam unplugged. The card's status word (the control file's
# status line, as the camera reads it: P present, p absent) and the journal tell.
held=/run/webcam-held
: >"$held"
echo "Environment=WEBCAM_SHIM_HELD=$held" >>/etc/systemd/system/orvane-camera-card.service.d/webcam.conf
settings[SOURCE]=v4l2:/dev/video0
journal_errors() { grep -c '^camera-card-emulator: source error ' "$scratch/emulator.out" || true; }
# card_state P|p WHAT: waits for the card's status word to say present (P) or absent (p),
# and, when present, for the webcam's frames to go on arriving.
card_state() {
    local want=$1 what=$2 frames="" now
    for waited in $(seq 100); do
        if grep -qx "status ...$want" "$control"; then
            [ "$want" = p ] && return 0
            now=$(sed -n 's/^source-frames //p' "$control")
            [ -n "$frames" ] && [ "$now" -gt "$frames" ] && return 0
            frames=$now
        fi
        alive "$emulator" || break
        sleep 0.1
    done
    cat "$scratch/emulator.out" "$control" >&2
    fail "$what"
}
start_service
check_serving
control=$(dirname "$(readlink /dev/orvane_vdc)")/control
card_state p "the card is not absent while another program holds the webcam"
[ "$(journal_errors)" -eq 1 ] &&
    grep -qx "camera-card-emulator: source error Device '/dev/video0' is busy" "$scratch/emulator.out" ||
    { cat "$scratch/emulator.out" >&2; fail "the journal does not say once that the webcam is busy"; }
echo "service_check: held: the card is absent; the journal says: $(grep -m1 'source error' "$scratch/emulator.out")"
rm "$held"
card_state P "the webcam's picture did not come back when the other program let it go"
grep -qx 'camera-card-emulator: source ok' "$scratch/emulator.out" ||
    { cat "$scratch/emulator.out" >&2; fail "the journal does not say that the webcam works again"; }
echo "service_check: let go: the card is present again with the webcam's frames, no restart"
errors=$(journal_errors)
rm /dev/video0
card_state p "the card is not absent with the webcam unplugged"
[ "$(journal_errors)" -gt "$errors" ] ||
    { cat "$scratch/emulator.out" >&2; fail "the journal says nothing of the unplugged webcam"; }
echo "service_check: unplugged: the card is absent; the journal says: $(grep 'source error' "$scratch/emulator.out" | tail -n 1)"
: >/dev/video0
chown root:video /dev/video0
chmod 0660 /dev/video0
card_state P "the webcam's picture did not come back when it was plugged back"
[ "$(grep -c '^camera-card-emulator: source ok$' "$scratch/emulator.out")" -eq 2 ] ||
    { cat "$scratch/emulator.out" >&2; fail "the journal does not say that the webcam plugged back works"; }
camera_leg replugged x11 webcam DISPLAY="$display" XAUTHORITY="$xauthority"
stop_service
umount /etc/systemd/system
echo "service_check: the webcam held, then unplugged: the card absent, and back by itself each time"
