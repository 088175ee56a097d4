#!/bin/bash
# Runs the search test program against printer hosts in network namespaces
# of its own, never on the machine's real interfaces:
#   search_test.sh TEST_EXE [gtest arguments...]
#
# The computer's namespace holds a bridge 10.250.7.1/24 with four hosts on
# veth pairs, plus a spare veth link 10.250.99.1/24 created last, so that the
# bridge is not the last row of the interface table (the search leaves the
# last row out). The namespaces have no link to anything else, so nothing
# sent inside them can leave. Wine's whole session (prefix, wineserver, X
# server) starts inside the computer's namespace.
#
# Exits 77 (skipped) when not root or when `ip netns` is unavailable.
set -uo pipefail
exe=${1:?usage: search_test.sh TEST_EXE [args...]}
shift
[ "$(id -u)" = 0 ] || { echo "skipped: needs root for network namespaces"; exit 77; }
command -v ip >/dev/null && ip netns list >/dev/null 2>&1 || { echo "skipped: no ip netns"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

tag="lqs$$"
pc="${tag}pc"
hosts=("${tag}h1" "${tag}h2" "${tag}h3" "${tag}h4")
macs=("02:5a:c3:00:00:11" "fe:ff:ff:ff:00:12" "02:5a:c3:00:00:13" "0a:11:22:33:44:55")
created=()
sender=""

cleanup() {
  [ -n "$sender" ] && kill "$sender" 2>/dev/null
  for ns in "${created[@]}"; do
    # Whatever still runs in a namespace of ours was started by this script.
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  done
  sleep 0.2
  for ns in "${created[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

# A run killed outright (a test time-out) cannot clean up: remove the
# namespaces of earlier runs of this script whose shell is gone.
for ns in $(ip netns list | awk '{print $1}' | grep -E '^lqs[0-9]+(pc|h[0-9])$'); do
  owner=${ns#lqs}
  owner=${owner%%[ph]*}
  kill -0 "$owner" 2>/dev/null && continue
  for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
  ip netns del "$ns" 2>/dev/null
done

set -e
ip netns add "$pc"; created+=("$pc")
ip -n "$pc" link set lo up
ip -n "$pc" link add br0 type bridge
ip -n "$pc" addr add 10.250.7.1/24 dev br0
ip -n "$pc" link set br0 up
for i in 0 1 2 3; do
  h=${hosts[$i]}
  ip netns add "$h"; created+=("$h")
  ip -n "$pc" link add "hv$i" type veth peer name eth0 netns "$h"
  ip -n "$pc" link set "hv$i" master br0 up
  ip -n "$h" link set lo up
  ip -n "$h" link set eth0 address "${macs[$i]}"
  ip -n "$h" addr add "10.250.7.1$((i + 1))/24" dev eth0
  ip -n "$h" link set eth0 up
  in_ns "$h" sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0
done
# The third host (a maker's address) answers no echo at all.
in_ns "${hosts[2]}" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
ip -n "$pc" link add spare0 type veth peer name spare1
ip -n "$pc" addr add 10.250.99.1/24 dev spare0
ip -n "$pc" link set spare1 up
ip -n "$pc" link set spare0 up
set +e

# Let the silent host talk to the computer once (a UDP datagram to a closed
# port), so that its ARP row exists although it answers no echo; retry until
# the bridge forwards.
for _ in $(seq 50); do
  in_ns "${hosts[2]}" python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b"x", ("10.250.7.1", 9))'
  sleep 0.2
  ip -n "$pc" neigh show 10.250.7.13 | grep -q lladdr && break
done
ip -n "$pc" neigh show 10.250.7.13 | grep -q lladdr || { echo "the silent host never reached the computer"; exit 1; }

# With KIT_NETNS_PRINTERS=1 the first two hosts also play printers: the
# simulator serves the device ID and data ports on each host's own address,
# with its control port beside them.
if [ "${KIT_NETNS_PRINTERS:-0}" = 1 ]; then
  for i in 0 1; do
    address="10.250.7.1$((i + 1))"
    in_ns "${hosts[$i]}" python3 -u "$root/tools/printer_sim.py" --control "$address:19900" --tcp "$address" \
      >/dev/null 2>&1 &
    for _ in $(seq 50); do
      in_ns "$pc" bash -c "echo >/dev/tcp/$address/19900" 2>/dev/null && break
      sleep 0.2
    done
  done
fi

# Printers without an address broadcast DHCP requests from the fourth host.
# Its control port (10.250.7.14:19950) switches it to a flood of DHCP
# requests or of malformed echo replies aimed at the computer.
ip netns exec "${hosts[3]}" python3 "$here/dhcp_sender.py" --control 10.250.7.14:19950 -- \
  02:5A:C3:00:00:99 02:5A:C3:00:01:01 0A:00:00:00:00:01 FE:FF:FF:FF:01:02 short 02:5A:C3:00:01:03 \
  big=02:5A:C3:00:02:02 &
sender=$!

ip netns exec "$pc" env KIT_NETNS=1 bash "$root/scripts/wine-session.sh" wine "$exe" "$@"
