#!/usr/bin/env bash
# Runs a command inside a private network namespace in which the test domain's two mirrors resolve to
# two loopback addresses:  ns1.zoveva.test -> 127.0.0.2,  ns2.zoveva.test -> 127.0.0.3.
# `ip netns exec` bind-mounts /etc/netns/NAME/hosts over /etc/hosts for the command only.
# Needs root (CI runs the tests as root); without it the test is skipped (exit 77).
# Everything created here (namespace, /etc/netns/NAME, processes left in the namespace) is removed on
# exit, and leftovers of an earlier run that was killed outright are removed first.
set -uo pipefail

if [ "$#" -lt 1 ]; then
    echo "usage: $0 COMMAND [ARG...]" >&2
    exit 2
fi
if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    echo "netns-run: needs root and iproute2; skipped" >&2
    exit 77
fi

prefix=zoveva-e2e-
remove_namespace() {
    local name=$1
    # Only processes of that namespace (ours: Icecast servers, encoders) are ended.
    local pids
    pids=$(ip netns pids "$name" 2>/dev/null || true)
    if [ -n "$pids" ]; then
        kill -9 $pids 2>/dev/null || true
    fi
    ip netns delete "$name" 2>/dev/null || true
    rm -rf "/etc/netns/$name"
}

# Leftovers of runs whose shell is gone.
for stale in $( (ip netns list 2>/dev/null | awk '{print $1}'; ls /etc/netns 2>/dev/null) | grep "^$prefix" | sort -u); do
    owner=${stale#"$prefix"}
    if ! kill -0 "$owner" 2>/dev/null; then
        remove_namespace "$stale"
    fi
done

name=$prefix$$
trap 'remove_namespace "$name"' EXIT
trap 'exit 130' INT TERM

mkdir -p "/etc/netns/$name" || exit 77
cat > "/etc/netns/$name/hosts" <<HOSTS
127.0.0.1 localhost
127.0.0.2 ns1.zoveva.test
127.0.0.3 ns2.zoveva.test
HOSTS
if ! ip netns add "$name" 2>/dev/null; then
    echo "netns-run: cannot create a network namespace here; skipped" >&2
    exit 77
fi
ip netns exec "$name" ip link set lo up || exit 1

ip netns exec "$name" "$@"
