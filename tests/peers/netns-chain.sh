#!/bin/sh
# A chain of network namespaces for multi-hop tests, always removed afterwards.
#   up PREFIX ROUTERS [--owner PID] [--hosts FILE]:
#     PREFIX-0 (source), PREFIX-1 .. PREFIX-ROUTERS (forwarding routers), PREFIX-<ROUTERS+1>
#     (target). Link i joins node i (10.99.i.1) and node i+1 (10.99.i.2): hop k answers from
#     10.99.<k-1>.2, the target is 10.99.<ROUTERS>.2; over IPv6 link i joins fd99:i::1 and
#     fd99:i::2, hop k answers from fd99:<k-1>::2. ICMP rate limits are off. A detached
#     reaper deletes the chain once PID (default: the caller) is gone. The source's resolver
#     asks 127.0.0.1, where nothing listens; --hosts FILE becomes its /etc/hosts (both under
#     `ip netns exec`).
#   down PREFIX: deletes them.
set -eu

down() {
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        case $ns in "$1"-[0-9]*) ip netns del "$ns" 2>/dev/null || true ;; esac
    done
    rm -rf "/etc/netns/$1-0"
}

up() {
    prefix=$1 routers=$2 owner=$PPID hosts=
    shift 2
    while [ $# -gt 0 ]; do
        case $1 in
            --owner) owner=$2 ;;
            --hosts) hosts=$2 ;;
            *) echo "netns-chain: unknown option $1" >&2; exit 2 ;;
        esac
        shift 2
    done
    # The reaper first: whatever fails below, the chain goes away with its owner.
    setsid sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 0.5; done; exec "$2" down "$3"' \
        reaper "$owner" "$0" "$prefix" </dev/null >/dev/null 2>&1 &
    last=$((routers + 1))
    for i in $(seq 0 "$last"); do
        ip netns add "$prefix-$i"
        ip -n "$prefix-$i" link set lo up
        ip netns exec "$prefix-$i" sysctl -qw net.ipv4.icmp_ratelimit=0 \
            net.ipv4.ip_forward=$((i > 0 && i < last)) net.ipv6.icmp.ratelimit=0 \
            net.ipv6.conf.all.forwarding=$((i > 0 && i < last))
    done
    for i in $(seq 0 "$routers"); do
        a=$prefix-$i b=$prefix-$((i + 1))
        ip link add "l${i}a" netns "$a" type veth peer name "l${i}b" netns "$b"
        ip -n "$a" addr add "10.99.$i.1/24" dev "l${i}a"
        ip -n "$b" addr add "10.99.$i.2/24" dev "l${i}b"
        # No duplicate address detection: the addresses are usable at once.
        ip -n "$a" addr add "fd99:$i::1/64" dev "l${i}a" nodad
        ip -n "$b" addr add "fd99:$i::2/64" dev "l${i}b" nodad
        ip -n "$a" link set "l${i}a" up
        ip -n "$b" link set "l${i}b" up
        # Onwards through the next node; back to the links behind through the previous one.
        ip -n "$a" route add default via "10.99.$i.2"
        ip -n "$a" -6 route add default via "fd99:$i::2"
        for j in $(seq 0 $((i - 1))); do
            ip -n "$b" route add "10.99.$j.0/24" via "10.99.$i.1"
            ip -n "$b" -6 route add "fd99:$j::/64" via "fd99:$i::1"
        done
    done
    mkdir -p "/etc/netns/$prefix-0"
    echo "nameserver 127.0.0.1" >"/etc/netns/$prefix-0/resolv.conf"
    if [ -n "$hosts" ]; then cp "$hosts" "/etc/netns/$prefix-0/hosts"; fi
}

case ${1:-} in
    up) shift; up "$@" ;;
    down) down "$2" ;;
    *) echo "usage: netns-chain.sh up PREFIX ROUTERS [--owner PID] [--hosts FILE] | down PREFIX" >&2; exit 2 ;;
esac
