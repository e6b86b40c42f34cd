#!/bin/bash
# Runs a resolver test inside a network namespace of its own whose resolver answers only from
# the hosts file below: `ip netns exec` mounts /etc/netns/<name>/* over /etc, and the namespace
# has nothing but its loopback, so no look-up leaves it. When no namespace can be made, runs
# the test here with the reason in VELMARIC_RESOLVER_NETNS_SKIP. With VELMARIC_RESOLVER_DNS=silent,
# names not in the hosts file go on to the namespace's one DNS server, whose queries nft drops, so
# such a look-up waits the resolver's whole time-out (30 s).
args=("$@")
here() { VELMARIC_RESOLVER_NETNS_SKIP=$1 exec "${args[@]}"; }
[[ $EUID -eq 0 ]] || here "needs root to create a network namespace"
command -v ip >/dev/null || here "the ip tool (iproute2) is missing"
[[ ! -e /run/nscd/socket ]] || here "nscd is running; host look-ups bypass the namespace"

# Namespaces left behind by runs that were killed outright.
for path in /run/netns/velmaric-resolve-* /etc/netns/velmaric-resolve-*; do
  old=${path##*/}
  [[ -e $path ]] && ! kill -0 "${old##*-}" 2>/dev/null || continue
  ip netns del "$old" 2>/dev/null; rm -rf "/etc/netns/$old"
done

name=velmaric-resolve-$$
dir=/etc/netns/$name
trap 'ip netns del "$name" 2>/dev/null; rm -rf "$dir"' EXIT
mkdir -p "$dir" || exit 1
# multi.velmaric.test lists 192.0.2.7 first, where getaddrinfo's sorting would put 127.0.0.9.
cat >"$dir/hosts" <<EOF
127.0.0.1	localhost
192.0.2.7	multi.velmaric.test
127.0.0.9	multi.velmaric.test
10.1.2.3	multi.velmaric.test
2001:db8::7	multi.velmaric.test
2001:db8::6	six.velmaric.test
203.0.113.5	reverse.velmaric.test
203.0.113.6	$(printf 'l%.0s' {1..200}).velmaric.test
EOF
silent=
[[ ${VELMARIC_RESOLVER_DNS:-} == silent ]] && silent=1
[[ -z $silent ]] || command -v nft >/dev/null || here "nft (nftables) is missing"
{ grep -v '^hosts:' /etc/nsswitch.conf; echo "hosts: files${silent:+ dns}"; } >"$dir/nsswitch.conf"
echo 'multi on' >"$dir/host.conf"
timeout=1
[[ -z $silent ]] || timeout=30
printf 'nameserver 127.0.0.1\noptions timeout:%s attempts:1\n' "$timeout" >"$dir/resolv.conf"
ip netns add "$name" && ip -n "$name" link set lo up || exit 1
if [[ -n $silent ]]; then
  ip netns exec "$name" nft -f - <<<'table inet dns { chain in { type filter hook input priority 0;
    udp dport 53 counter drop; tcp dport 53 counter drop; }; }' || exit 1
fi
VELMARIC_RESOLVER_NETNS=$name ip netns exec "$name" "$@"
