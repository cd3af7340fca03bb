#!/bin/sh
# The demo's camera is the user's program, not root's: while the demo runs, /proc shows the
# camera process with the user's ids; afterwards its pictures and settings are the user's.
#   demo-user.sh REPO BUILD_DIR      (as root; exit 77 where it cannot run)
set -u
repo=$1
build=$2
account=orvane-test

[ "$(id -u)" -eq 0 ] || { echo "needs root: the demo mounts and links /dev nodes"; exit 77; }
for tool in Xvfb xdotool import setpriv; do
    command -v "$tool" >/dev/null || { echo "no $tool"; exit 77; }
done
[ -e /dev/fuse ] || { echo "no /dev/fuse"; exit 77; }
uid=$(id -u "$account" 2>/dev/null) || { echo "no account $account (test_account makes it)"; exit 77; }
gid=$(id -g "$account")

out=$(mktemp -d /tmp/demo-user.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; cat "$out/demo.log"; exit 1; }

# Root runs the demo itself here, not through sudo.
env -u SUDO_USER -u SUDO_UID -u SUDO_GID "$repo/scripts/demo" --no-build --build-dir "$build" --user "$account" \
    --output "$out/result" >"$out/demo.log" 2>&1 &
demo=$!

# The camera's pid is printed before it has finished becoming the camera: wait for the
# program to be the camera before its ids count.
pid=""
ids=""
i=0
while [ $i -lt 300 ]; do
    [ -n "$pid" ] || pid=$(sed -n 's/^demo: camera started (pid \([0-9]*\).*/\1/p' "$out/demo.log")
    if [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$build/bin/camera" ]; then
        ids=$(awk '/^Uid:/ { print $2, $3, $4, $5 } /^Gid:/ { print $2, $3, $4, $5 }' \
            "/proc/$pid/status")
        break
    fi
    kill -0 "$demo" 2>/dev/null || break
    i=$((i + 1))
    sleep 0.1
done
wait "$demo"
rc=$?
[ -n "$ids" ] || fail "never saw the camera process"
expected=$(printf '%s %s %s %s\n%s %s %s %s' "$uid" "$uid" "$uid" "$uid" "$gid" "$gid" "$gid" "$gid")
[ "$ids" = "$expected" ] || fail "camera ran with uids/gids $ids, not $account's"
[ "$rc" -eq 0 ] || fail "the demo ended with status $rc"

n=0
for f in "$out"/result/pictures/*.jpg; do
    [ -e "$f" ] || continue
    [ "$(stat -c '%u %a' "$f")" = "$uid 644" ] || fail "$f is $(stat -c '%U %a' "$f")"
    n=$((n + 1))
done
[ "$n" -eq 3 ] || fail "$n pictures instead of 3"
[ "$(stat -c '%u %a' "$out/result/OrvaneCamera.conf")" = "$uid 600" ] ||
    fail "settings are $(stat -c '%U %a' "$out/result/OrvaneCamera.conf")"
grep -q "running as root" "$out/result/camera.out" && fail "the camera ran as root"
echo "camera ran as $account ($ids); 3 pictures 0644 and settings 0600 are $account's"
