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
# Bench mode (--bench N): the first N phones have no address; they take one by DHCP when a test
# runs ORVO_LAB_DHCP for them (their manifest address is "dhcp").
# Links: the last --late hosts answer ARP requests late (tc's netem is not in every kernel, so
# late_arp.py answers for them from user space and their kernel stays silent), the --lossy hosts
# before them sit on a link that drops a share of the packets each way (nftables).
# COMMAND runs inside the workstation namespace with
#   ORVO_LAB_IFACE     the workstation's address (the network's first address)
#   ORVO_LAB_MANIFEST  a file with one line per host:
#                      kind<TAB>address<TAB>MAC<TAB>User-Agent<TAB>link (late, lossy or empty)
#   ORVO_LAB_RUN       the run id that every namespace name carries
#   ORVO_LAB_WORK      the lab's scratch folder: phones (the simulator's phones file, lines
#                      namespace<TAB>user-agent<TAB>MAC<TAB>address), fetched/ (the configuration
#                      each phone fetched after a ua-profile NOTIFY, by plain MAC), requests
#                      (every datagram the phones received), dhcp/ (the DHCP clients' files)
#   ORVO_LAB_DHCP      dhcp_phone.sh beside this script: a phone without an address takes a
#                      lease with a real DHCP client and fetches from the URL it was given
# and the lab's exit code is COMMAND's. Multicast (224.0.0.0/4) goes out on every host's eth0,
# and the bridge floods it to every port, so a SUBSCRIBE to a group reaches the workstation. The lab is always torn down. Without root, or when
# namespaces cannot be made, it exits 77 (skipped) with the reason on stderr.
#
# Options: --phones N (20)  --others N (3)  --silent N (2)  --prefix 0a:1b:2c
#          --net 10.a.b (the first three bytes of the network)  --prefix-length 16..24 (24)
#          --late N (0)  --late-ms MS (150)  --lossy N (0)  --loss PERCENT (10)
#          --bench N (0)  --sim PATH (the phone simulator beside this script)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
phones=20 others=3 silent=2 prefix=0a:1b:2c net="" bits=24 sim="$here/phone_sim.py"
late=0 late_ms=150 lossy=0 loss=10 bench=0
while [[ $# -gt 0 ]]; do
    case "$1" in
        --phones) phones=$2; shift 2 ;;
        --others) others=$2; shift 2 ;;
        --silent) silent=$2; shift 2 ;;
        --prefix) prefix=$2; shift 2 ;;
        --net) net=$2; shift 2 ;;
        --prefix-length) bits=$2; shift 2 ;;
        --late) late=$2; shift 2 ;;
        --late-ms) late_ms=$2; shift 2 ;;
        --lossy) lossy=$2; shift 2 ;;
        --loss) loss=$2; shift 2 ;;
        --bench) bench=$2; shift 2 ;;
        --sim) sim=$2; shift 2 ;;
        --) shift; break ;;
        *) echo "lab: unknown option $1" >&2; exit 2 ;;
    esac
done
[[ $# -gt 0 ]] || { echo "lab: no command given" >&2; exit 2; }
total=$((phones + others + silent))
(( total >= 1 && total <= 250 )) || { echo "lab: 1 to 250 hosts" >&2; exit 2; }
(( bits >= 16 && bits <= 24 )) || { echo "lab: a prefix length of 16 to 24" >&2; exit 2; }
(( late + lossy <= total )) || { echo "lab: more late and lossy hosts than hosts" >&2; exit 2; }
(( bench >= 0 && bench <= phones )) || { echo "lab: more bench phones than phones" >&2; exit 2; }

skip() { echo "SKIPPED: phone lab: $*" >&2; exit 77; }
[[ $(id -u) -eq 0 ]] || skip "needs root to make network namespaces"
command -v ip >/dev/null || skip "ip (iproute2) is not installed"
# The system's own interpreter: it starts fast, wrappers around it may not.
py=/usr/bin/python3
[[ -x "$py" ]] || py=$(command -v python3) || skip "python3 is not installed"

(( lossy == 0 )) || command -v nft >/dev/null || skip "nft (nftables) is not installed"

rid=$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
[[ -n "$net" ]] || net="10.$((0x${rid:0:2} % 200 + 20)).$((0x${rid:2:2}))"
# The network's first address as a number, and its size.
IFS=. read -r n1 n2 n3 <<<"$net"
size=$((1 << (32 - bits)))
base=$(((n1 << 24 | n2 << 16 | n3 << 8) & ~(size - 1) & 0xffffffff))
dotted() { echo "$(($1 >> 24 & 255)).$(($1 >> 16 & 255)).$(($1 >> 8 & 255)).$(($1 & 255))"; }
lab="orvo-$rid-lab"
work=$(mktemp -d "${TMPDIR:-/tmp}/orvo-lab-$rid-XXXXXX")
namespaces=()
pids=()

teardown() {
    local pid ns
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    # What tests left running in the lab's namespaces (DHCP clients, servers) ends with it.
    for ns in "${namespaces[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done
    done
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
links=()  # late, lossy or empty, per host
for ((i = 0; i < total; i++)); do
    # Spread over the network, the workstation first (a /24: .2 to .253).
    address=$(dotted $((base + 2 + i * (size - 4) / total)))
    lo=$(printf '%02x' $((i & 255)))
    ((i >= bench)) || address=dhcp
    if ((i < phones)); then
        kind=phone mac="$prefix:00:01:$lo" ua="${models[i % 3]} 2.0.4.$i"
    elif ((i < phones + others)); then
        kind=other mac="02:4f:52:00:02:$lo" ua="Acme P$((i % 2 + 1)) 1.$i.0"
    else
        kind=silent mac="06:4f:52:00:03:$lo" ua=""
    fi
    link=""
    ((i < total - late)) || link=late
    ((i < total - late - lossy || i >= total - late)) || link=lossy
    hosts+=("orvo-$rid-h$i $address $mac")
    links+=("$link")
    printf '%s\t%s\t%s\t%s\t%s\n' "$kind" "$address" "${mac//:/-}" "$ua" "$link" >>"$manifest"
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
    printf 'link set lo up\naddr add %s/%s dev eth0\nlink set eth0 up\n%s\n' "$2" "$bits" \
        "route add 224.0.0.0/4 dev eth0" | ip -n "$1" -batch -
}
# A host whose link drops a share of the packets, each way.
drop_packets() {  # $1 namespace
    ip netns exec "$1" nft -f - <<NFT
table netdev orvo_loss {
    chain in { type filter hook ingress device "eth0" priority 0; numgen random mod 100 < $loss drop; }
    chain out { type filter hook egress device "eth0" priority 0; numgen random mod 100 < $loss drop; }
}
NFT
}
workstation=$(dotted $((base + 1)))
configure "$ws" "$workstation"
: >"$work/phones"
: >"$work/late"
i=0
while IFS=$'\t' read -r kind _ _ ua; do
    read -r ns address mac <<<"${hosts[i]}"
    link=${links[i]}
    if [[ "$address" == dhcp ]]; then
        printf 'link set lo up\nlink set eth0 up\n' | ip -n "$ns" -batch -
    else
        configure "$ns" "$address"
    fi
    [[ "$kind" == silent ]] || printf '%s\t%s\t%s\t%s\n' "$ns" "$ua" "$mac" "$address" >>"$work/phones"
    if [[ "$link" == late ]]; then
        # Its kernel answers no ARP request; late_arp.py does.
        ip netns exec "$ns" sysctl -qw net.ipv4.conf.eth0.arp_ignore=8
        printf '%s\t%s\t%s\n' "$ns" "$address" "$mac" >>"$work/late"
    fi
    [[ "$link" != lossy ]] || drop_packets "$ns"
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

if [[ -s "$work/late" ]]; then
    "$py" "$here/late_arp.py" --hosts "$work/late" --delay-ms "$late_ms" --ready "$work/late-ready" &
    pids+=($!)
else
    : >"$work/late-ready"
fi

# The simulator has bound every port, the late answerer every socket (bounded wait).
for ((t = 0; t < 400; t++)); do
    [[ -e "$work/ready" && -e "$work/late-ready" ]] && break
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null || break 2; done
    sleep 0.05
done
[[ -e "$work/ready" ]] || { echo "lab: the phone simulator did not start" >&2; exit 1; }
[[ -e "$work/late-ready" ]] || { echo "lab: the late ARP answerer did not start" >&2; exit 1; }

mkdir -p "$work/dhcp"
set +e
ip netns exec "$ws" env ORVO_LAB_IFACE="$workstation" ORVO_LAB_MANIFEST="$manifest" \
    ORVO_LAB_RUN="$rid" ORVO_LAB_WORK="$work" ORVO_LAB_DHCP="$here/dhcp_phone.sh" "$@"
status=$?
set -e
exit $status
