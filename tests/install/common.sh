# Sourced by the install and package checks: reading a desktop entry, starting its command
# as a launcher would, and ending a program as the desktop does. Callers define fail(),
# and camera_deb and emulator_deb for unpack_packages.

# The first value of KEY in the [Desktop Entry] group of ENTRY.
desktop_value() {
    awk -v key="$2" '
        /^\[/ { group = $0; next }
        group == "[Desktop Entry]" && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
    ' "$1"
}

# The Exec line's words with the field codes dropped, into the array exec_command.
read_exec_command() {
    local line w words
    line=$(desktop_value "$1" Exec)
    [ -n "$line" ] || fail "no Exec line in $1"
    read -r -a words <<<"$line"
    exec_command=()
    for w in "${words[@]}"; do
        case "$w" in %[fFuUdDnNickvm]) ;; *) exec_command+=("$w") ;; esac
    done
}

# A child that has ended stays a zombie until waited for: kill -0 would still succeed.
alive() { grep -q '^State:[[:space:]]*[^Z[:space:]]' "/proc/$1/status" 2>/dev/null; }

# SIGTERM to the child PID, SIGKILL 5 s later if it is still there; sets term_status to its
# exit status (137 when it had to be killed).
terminate() {
    local pid=$1 watchdog
    kill -TERM "$pid"
    (
        trap 'kill "$sleeper"; exit 0' TERM
        sleep 5 & sleeper=$!
        wait "$sleeper"
        kill -KILL "$pid"
    ) >/dev/null 2>&1 &
    watchdog=$!
    term_status=0
    wait "$pid" || term_status=$?
    kill "$watchdog" 2>/dev/null || true
    wait "$watchdog" 2>/dev/null || true
}

# Each program's --help on standard output with status 0, --version naming VERSION, and an
# unknown option refused with status 2 and the usage on standard error only. No display,
# no bus: the answer must not need them.
check_command_lines() {
    local bin=$1 version=$2 program out err status
    for program in camera camera-card-emulator camera-card-client; do
        status=0
        out=$(env -i "$bin/$program" --help 2>/dev/null) || status=$?
        [ "$status" -eq 0 ] || fail "$program --help: exit status $status"
        grep -qi usage <<<"$out" || fail "$program --help printed no usage"
        out=$(env -i "$bin/$program" --version 2>/dev/null) || fail "$program --version failed"
        [ "$out" = "$program $version" ] || fail "$program --version: '$out', not '$program $version'"
        status=0
        out=$(env -i "$bin/$program" --no-such-option 2>"$scratch/err") || status=$?
        err=$(cat "$scratch/err")
        [ "$status" -eq 2 ] || fail "$program --no-such-option: exit status $status, not 2"
        [ -z "$out" ] || fail "$program --no-such-option wrote to standard output"
        grep -qi usage <<<"$err" || fail "$program --no-such-option: no usage on standard error"
    done
}

# The two packages of VERSION in SOURCE_DIR/dist, built by scripts/package when missing or
# older than a source file; sets camera_deb and emulator_deb.
ensure_packages() {
    local source_dir=$1 version=$2 arch
    arch=$(dpkg --print-architecture)
    camera_deb=$source_dir/dist/orvane-camera_${version}_$arch.deb
    emulator_deb=$source_dir/dist/orvane-camera-card-emulator_${version}_$arch.deb
    stale() {
        [ -f "$camera_deb" ] && [ -f "$emulator_deb" ] || return 0
        local newer
        newer=$(find "$source_dir" \( -path "$source_dir/build*" -o -path "$source_dir/dist" \
                    -o -path "$source_dir/.git" -o -path "$source_dir/demo-output" \
                    -o -path "$source_dir/tests" \) -prune \
                    -o -type f \( -newer "$camera_deb" -o -newer "$emulator_deb" \) -print -quit)
        [ -n "$newer" ]
    }
    if stale; then
        echo "building the packages (scripts/package)"
        "$source_dir/scripts/package" >/dev/null || fail "scripts/package failed"
        [ -f "$camera_deb" ] && [ -f "$emulator_deb" ] ||
            fail "scripts/package made no packages of version $version"
    fi
}

# Fills DIR (a folder the caller then moves over /dev in its own mount namespace) with a
# /dev of its own: the host's harmless nodes, the EXTRA ones named, shm, pts and fd.
fill_private_dev() {
    local dev=$1 node
    shift
    mount -t tmpfs -o mode=0755,size=64k private-dev "$dev"
    for node in null zero full random urandom tty "$@"; do
        touch "$dev/$node"
        mount --bind "/dev/$node" "$dev/$node"
    done
    mkdir "$dev/shm" "$dev/pts"
    mount --bind /dev/shm "$dev/shm"
    mount --bind /dev/pts "$dev/pts"
    ln -s /proc/self/fd "$dev/fd"
}

# Unpacks the camera's and the emulator's packages into the folder $1, as dpkg would lay
# them out.
unpack_packages() {
    local deb
    for deb in "$camera_deb" "$emulator_deb"; do
        dpkg-deb -x "$deb" "$1" || fail "dpkg-deb -x $deb failed"
    done
}
