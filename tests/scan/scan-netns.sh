#!/bin/bash
# Runs a scanner test inside a network namespace of its own: only its loopback, with these
# rules for the filtered ports, and a resolver asking the hosts file below and then a name
# server on the namespace's 127.0.0.1, so no probe and no look-up leaves it. The test makes its
# own listeners and name server in there. When no namespace can be made, runs the test here
# with the reason in VELMARIC_SCAN_NETNS_SKIP.
#   5007 and 6000-6999 drop every probe; 5013 answers "administratively prohibited";
#   5016 answers with a reset.
args=("$@")
here() { VELMARIC_SCAN_NETNS_SKIP=$1 exec "${args[@]}"; }
[[ $EUID -eq 0 ]] || here "needs root to create a network namespace"
command -v ip >/dev/null || here "the ip tool (iproute2) is missing"
command -v nft >/dev/null || here "the nft tool (nftables) is missing"
[[ ! -e /run/nscd/socket ]] || here "nscd is running; host look-ups bypass the namespace"

# Namespaces left behind by runs that were killed outright.
for path in /run/netns/velmaric-scan-* /etc/netns/velmaric-scan-*; do
  old=${path##*/}
  [[ -e $path ]] && ! kill -0 "${old##*-}" 2>/dev/null || continue
  ip netns del "$old" 2>/dev/null; rm -rf "/etc/netns/$old"
done

name=velmaric-scan-$$
dir=/etc/netns/$name
trap 'ip netns del "$name" 2>/dev/null; rm -rf "$dir"' EXIT
mkdir -p "$dir" || exit 1
# dual.velmaric.test lists its IPv6 address first; the scanner takes the IPv4 one.
cat >"$dir/hosts" <<HOSTS
127.0.0.1	localhost
::1	localhost
::1	dual.velmaric.test
127.0.0.2	dual.velmaric.test
HOSTS
{ grep -v '^hosts:' /etc/nsswitch.conf; echo 'hosts: files dns'; } >"$dir/nsswitch.conf"
echo 'multi on' >"$dir/host.conf"
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$dir/resolv.conf"
ip netns add "$name" && ip -n "$name" link set lo up || exit 1
ip netns exec "$name" nft -f - <<'RULES' || exit 1
table inet probes {
  chain input {
    type filter hook input priority 0;
    tcp dport { 5007, 6000-6999 } drop
    tcp dport 5013 reject with icmpx type admin-prohibited
    tcp dport 5016 reject with tcp reset
  }
}
RULES
VELMARIC_SCAN_NETNS=$name ip netns exec "$name" "$@"
