#!/usr/bin/env bash
# The phone lab: an isolated LAN of network namespaces on which a test runs.
#
#   tests/lab/lab.sh [options] -- COMMAND [ARGS...]
#
# A lab namespace holds a bridge; a workstation namespace and one namespace per host hang on it
# by veth pairs made inside the lab namespace, so nothing of the lab touches the machine's own
# interfaces. Hosts:
#   phones  MAC under the prefix, a phone simulator answering on UDP port 60000
#   others  phones whose MAC lies outside the prefix
#   silent  hosts that answer ARP but are not phones (no simulator)
# COMMAND runs inside the workstation namespace with
#   ORVO_LAB_IFACE     the workstation's address (x.y.z.1 of the /24)
#   ORVO_LAB_MANIFEST  a file with one line per host: kind<TAB>address<TAB>MAC<TAB>User-Agent
#   ORVO_LAB_RUN       the run id that every namespace name carries
#   ORVO_LAB_WORK      the lab's scratch folder: phones (the simulator's phones file, lines
#                      namespace<TAB>user-agent<TAB>MAC<TAB>address), fetched/ (the configuration
#                      each phone fetched after a ua-profile NOTIFY, by plain MAC), requests
#                      (every datagram the phones received)
# and the lab's exit code is COMMAND's. Multicast (224.0.0.0/4) goes out on every host's eth0,
# and the bridge floods it to every port, so a SUBSCRIBE to a group reaches the workstation. The lab is always torn down. Without root, or when
# namespaces cannot be made, it exits 77 (skipped) with the reason on stderr.
#
# Options: --phones N (20)  --others N (3)  --silent N (2)  --prefix 0a:1b:2c  --net 10.a.b
#          --sim PATH (the phone simulator beside this script)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
phones=20 others=3 silent=2 prefix=0a:1b:2c net="" sim="$here/phone_sim.py"
while [[ $# -gt 0 ]]; do
    case "$1" in
        --phones) phones=$2; shift 2 ;;
        --others) others=$2; shift 2 ;;
        --silent) silent=$2; shift 2 ;;
        --prefix) prefix=$2; shift 2 ;;
        --net) net=$2; shift 2 ;;
        --sim) sim=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "lab: unknown option $1" >&2; exit 2 ;;
    esac
done
[[ $# -gt 0 ]] || { echo "lab: no command given" >&2; exit 2; }
total=$((phones + others + silent))
(( total >= 1 && total <= 250 )) || { echo "lab: 1 to 250 hosts" >&2; exit 2; }

skip() { echo "SKIPPED: phone lab: $*" >&2; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root to make network namespaces"
command -v ip >/dev/null || skip "ip (iproute2) is not installed"
# The system's own interpreter: it starts fast, wrappers around it may not.
py=/usr/bin/python3
[[ -x "$py" ]] || py=$(command -v python3) || skip "python3 is not installed"

rid=$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
[[ -n "$net" ]] || net="10.$((0x${rid:0:2} % 200 + 20)).$((0x${rid:2:2}))"
lab="orvo-$rid-lab"
work=$(mktemp -d "${TMPDIR:-/tmp}/orvo-lab-$rid-XXXXXX")
namespaces=()
pids=()

teardown() {
    local pid ns
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    # Deleting the namespaces removes the bridge and every veth with them.
    for ns in "${namespaces[@]}"; do
        ip netns del "$ns" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap teardown EXIT
trap 'exit 130' INT TERM HUP PIPE

# Namespaces and links are made by batches of ip commands, which is much faster than one ip
# call per step.
ip netns add "$lab" 2>/dev/null || skip "cannot make network namespace $lab"
namespaces+=("$lab")
ip -n "$lab" link add br0 type bridge 2>/dev/null || skip "cannot make a bridge"

ws="orvo-$rid-ws"
manifest="$work/manifest"
: >"$manifest"
models=("Orvo X100" "Orvo X200" "Orvo X300")
hosts=()  # namespace address MAC, per host
for ((i = 0; i < total; i++)); do
    address="$net.$((2 + i * 252 / total))"
    lo=$(printf '%02x' $((i & 255)))
    if ((i < phones)); then
        kind=phone mac="$prefix:00:01:$lo" ua="${models[i % 3]} 2.0.4.$i"
    elif ((i < phones + others)); then
        kind=other mac="02:4f:52:00:02:$lo" ua="Acme P$((i % 2 + 1)) 1.$i.0"
    else
        kind=silent mac="06:4f:52:00:03:$lo" ua=""
    fi
    hosts+=("orvo-$rid-h$i $address $mac")
    printf '%s\t%s\t%s\t%s\n' "$kind" "$address" "${mac//:/-}" "$ua" >>"$manifest"
done

{
    echo "netns add $ws"
    for host in "${hosts[@]}"; do echo "netns add ${host%% *}"; done
} >"$work/netns"
namespaces+=("$ws")
for host in "${hosts[@]}"; do namespaces+=("${host%% *}"); done
ip -batch "$work/netns"

# The bridge's side: one veth per namespace, its other end (eth0) placed in that namespace.
{
    echo "link set lo up"
    # No IGMP snooping: without a querier on the lab, group traffic reaches every port.
    echo "link set br0 type bridge mcast_snooping 0"
    echo "link set br0 up"
    echo "link add v${rid}w type veth peer name eth0 netns $ws"
    echo "link set v${rid}w master br0 up"
    for ((i = 0; i < total; i++)); do
        read -r ns address mac <<<"${hosts[i]}"
        echo "link add v${rid}h$i type veth peer name eth0 address $mac netns $ns"
        echo "link set v${rid}h$i master br0 up"
    done
} >"$work/bridge"
ip -n "$lab" -batch "$work/bridge"

configure() {  # $1 namespace, $2 address
    printf 'link set lo up\naddr add %s/24 dev eth0\nlink set eth0 up\n%s\n' "$2" \
        "route add 224.0.0.0/4 dev eth0" | ip -n "$1" -batch -
}
configure "$ws" "$net.1"
: >"$work/phones"
i=0
while IFS=$'\t' read -r kind _ _ ua; do
    read -r ns address mac <<<"${hosts[i]}"
    configure "$ns" "$address"
    [[ "$kind" == silent ]] || printf '%s\t%s\t%s\t%s\n' "$ns" "$ua" "$mac" "$address" >>"$work/phones"
    i=$((i + 1))
done <"$manifest"

# One simulator process plays every phone, each socket in its phone's namespace.
if [[ -s "$work/phones" ]]; then
    "$py" "$sim" --phones "$work/phones" --ready "$work/ready" --log "$work/requests" \
        --fetched "$work/fetched" &
    pids+=($!)
else
    : >"$work/ready"
fi

# The simulator has bound every port (bounded wait).
for ((t = 0; t < 400; t++)); do
    [[ -e "$work/ready" ]] && break
    [[ ${#pids[@]} -eq 0 ]] || kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.05
done
[[ -e "$work/ready" ]] || { echo "lab: the phone simulator did not start" >&2; exit 1; }

set +e
ip netns exec "$ws" env ORVO_LAB_IFACE="$net.1" ORVO_LAB_MANIFEST="$manifest" \
    ORVO_LAB_RUN="$rid" ORVO_LAB_WORK="$work" "$@"
status=$?
set -e
exit $status
