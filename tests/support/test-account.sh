#!/bin/sh
# Makes the unprivileged system account that tests running as root run the camera as
# (see testaccount.h): no home, no password, no login shell. Kept for later runs; remove it
# with "userdel orvane-test". As another user than root there is nothing to do: the tests
# that need it skip.
name=orvane-test
[ "$(id -u)" -eq 0 ] || exit 0
getent passwd "$name" >/dev/null && exit 0
# Two test runs at once: the second useradd fails, the account is there all the same.
useradd --system --user-group --no-create-home --home-dir /nonexistent \
    --shell /usr/sbin/nologin --comment "Orvane Camera tests" "$name" ||
    getent passwd "$name" >/dev/null
