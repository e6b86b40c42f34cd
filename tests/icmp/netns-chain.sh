#!/bin/sh
# A chain of network namespaces for multi-hop tests, always removed afterwards.
#
#   netns-chain.sh up PREFIX ROUTERS [--owner PID] [--hosts FILE]
#       Creates PREFIX-0 (source), PREFIX-1 .. PREFIX-ROUTERS (routers) and
#       PREFIX-<ROUTERS+1> (target), joined by veth pairs on 10.99.<link>.0/24, forwarding on,
#       routes both ways. Link i joins node i (10.99.i.1) and node i+1 (10.99.i.2), so hop k
#       answers from 10.99.<k-1>.2 and the target is 10.99.<ROUTERS>.2. Prints
#       source=, target=, target_addr=, router<k>=, hop<k>= lines. A detached reaper deletes
#       the chain once PID (default: the caller) is gone, so a crashed test leaves nothing.
#       ICMP rate limits are off in every namespace, so repeated runs get every answer.
#       Look-ups run with `ip netns exec` in the source stay inside: its resolv.conf names
#       127.0.0.1, where nothing listens; --hosts FILE becomes its /etc/hosts.
#   netns-chain.sh down PREFIX
#       Deletes every namespace named PREFIX-<n> and its /etc/netns entry.
#   netns-chain.sh run ROUTERS [--hosts FILE] -- COMMAND...
#       Creates a uniquely named chain, runs COMMAND with NETNS_SOURCE, NETNS_TARGET,
#       NETNS_TARGET_ADDR, NETNS_PREFIX exported, deletes the chain on every way out and
#       exits with COMMAND's status.
set -eu

die() { echo "netns-chain: $*" >&2; exit 2; }

down() {
    prefix=$1
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        case $ns in "$prefix"-[0-9]*) ip netns del "$ns" 2>/dev/null || true ;; esac
    done
    rm -rf "/etc/netns/$prefix-0"
}

up() {
    prefix=$1 routers=$2; shift 2
    owner=$PPID hosts=
    while [ $# -gt 0 ]; do
        case $1 in
            --owner) owner=$2; shift 2 ;;
            --hosts) hosts=$2; shift 2 ;;
            *) die "unknown option $1" ;;
        esac
    done
    case $routers in ''|*[!0-9]*) die "ROUTERS must be a number" ;; esac
    [ "$(id -u)" = 0 ] || die "needs root"
    # Start the reaper first: whatever fails below, the chain goes away with its owner.
    setsid sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 0.5; done; exec "$2" down "$3"' \
        reaper "$owner" "$0" "$prefix" </dev/null >/dev/null 2>&1 &
    last=$((routers + 1))
    i=0
    while [ $i -le $last ]; do
        ns=$prefix-$i
        ip netns add "$ns"
        ip -n "$ns" link set lo up
        ip netns exec "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0
        [ $i -gt 0 ] && [ $i -lt $last ] && ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1
        i=$((i + 1))
    done
    i=0
    while [ $i -lt $last ]; do
        a=$prefix-$i b=$prefix-$((i + 1))
        ip link add "l${i}a" netns "$a" type veth peer name "l${i}b" netns "$b"
        ip -n "$a" addr add "10.99.$i.1/24" dev "l${i}a"
        ip -n "$b" addr add "10.99.$i.2/24" dev "l${i}b"
        ip -n "$a" link set "l${i}a" up
        ip -n "$b" link set "l${i}b" up
        i=$((i + 1))
    done
    # Towards the target: each node's default route is the next node.
    i=0
    while [ $i -lt $last ]; do
        ip -n "$prefix-$i" route add default via "10.99.$i.2"
        i=$((i + 1))
    done
    # Back towards the source: the links behind a node go through the previous node.
    i=2
    while [ $i -le $last ]; do
        j=0
        while [ $j -lt $((i - 1)) ]; do
            ip -n "$prefix-$i" route add "10.99.$j.0/24" via "10.99.$((i - 1)).1"
            j=$((j + 1))
        done
        i=$((i + 1))
    done
    mkdir -p "/etc/netns/$prefix-0"
    echo "nameserver 127.0.0.1" >"/etc/netns/$prefix-0/resolv.conf"
    if [ -n "$hosts" ]; then
        cp "$hosts" "/etc/netns/$prefix-0/hosts"
    fi
    echo "source=$prefix-0"
    echo "target=$prefix-$last"
    echo "target_addr=10.99.$routers.2"
    k=1
    while [ $k -le $routers ]; do
        echo "router$k=$prefix-$k"
        echo "hop$k=10.99.$((k - 1)).2"
        k=$((k + 1))
    done
}

[ $# -ge 1 ] || die "usage: netns-chain.sh up|down|run ..."
cmd=$1; shift
case $cmd in
    up) [ $# -ge 2 ] || die "usage: up PREFIX ROUTERS"; up "$@" ;;
    down) [ $# -eq 1 ] || die "usage: down PREFIX"; down "$1" ;;
    run)
        [ $# -ge 3 ] || die "usage: run ROUTERS [--hosts FILE] -- COMMAND..."
        routers=$1; shift
        opts=
        while [ $# -gt 0 ] && [ "$1" != "--" ]; do opts="$opts $1"; shift; done
        [ "${1:-}" = "--" ] || die "missing -- before the command"
        shift
        prefix=vc$$x$(od -An -N2 -tu2 /dev/urandom | tr -d ' ')
        trap 'down "$prefix"' EXIT
        trap 'exit 130' INT TERM
        # shellcheck disable=SC2086
        up "$prefix" "$routers" --owner $$ $opts >/dev/null
        export NETNS_PREFIX=$prefix NETNS_SOURCE=$prefix-0 NETNS_TARGET=$prefix-$((routers + 1))
        export NETNS_TARGET_ADDR=10.99.$routers.2
        set +e
        "$@"
        status=$?
        set -e
        exit $status
        ;;
    *) die "unknown command $cmd" ;;
esac
