#!/usr/bin/env bash
# Discovery sweeps on the phone lab against arp-scan --localnet on the same lab in the same run:
#   a /24 with 50 live hosts: the raw ARP sweep and the unprivileged one (no CAP_NET_RAW);
#   a /22 with 3 live hosts: one plain, one answering ARP 150 ms late, one on a link that drops
#   10% of the packets each way; how often each tool found each of them.
#   bench/discovery_lab.sh [BUILD_DIR] [ROUNDS_24] [ROUNDS_22]
#                                    (needs root; arp-scan: scripts/install-deps bench; 3 and 10)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds24=${2:-3}
rounds22=${3:-10}
cli=$(realpath "$build/bin/orvo-cli")
command -v arp-scan >/dev/null || { echo "arp-scan is missing: scripts/install-deps bench" >&2; exit 1; }

# Runs inside the lab: ROUNDS rounds of arp-scan, orvo-cli discover and, with KERNEL=1, orvo-cli
# discover without CAP_NET_RAW, each after the neighbour table was emptied.
inner=$(cat <<'INNER'
set -euo pipefail
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { echo $(($(date +%s%N) / 1000000)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
sweepMs() { tail -1 | sed 's/.*sweep: \([0-9.]*\) s.*/\1/' | awk '{printf "%d", $1 * 1000}'; }
# Adds one to found[tool,link] for every manifest host whose address the output lists.
declare -A found
count() {  # $1 tool, $2 output (addresses in the first or fifth column)
    local kind address mac ua link
    while IFS=$'\t' read -r kind address mac ua link; do
        [[ -n "$link" ]] || link=plain
        if grep -qP "(^|\t)\Q$address\E\t" <<<"$2"; then
            found[$1,$link]=$((${found[$1,$link]:-0} + 1))
        fi
    done < <(awk -F'\t' '{print $1 "\t" $2 "\t" $3 "\t-\t" $5}' "$ORVO_LAB_MANIFEST")
}
scan=() ours=() kernel=()
for ((r = 0; r < ROUNDS; r++)); do
    ip neigh flush all
    t0=$(ms); out=$(arp-scan -I eth0 --localnet -q); t1=$(ms)
    scan+=($((t1 - t0))); count arp-scan "$out"
    ip neigh flush all
    out=$("$CLI" discover --yes --iface "$ORVO_LAB_IFACE")
    ours+=($(sweepMs <<<"$out")); count raw "$out"
    if [[ "$KERNEL" == 1 ]]; then
        ip neigh flush all
        out=$(setpriv --bounding-set -net_raw "$CLI" discover --yes --iface "$ORVO_LAB_IFACE" 2>/dev/null)
        kernel+=($(sweepMs <<<"$out")); count kernel "$out"
    fi
done
s=$(printf '%s\n' "${scan[@]}" | median)
o=$(printf '%s\n' "${ours[@]}" | median)
echo "$LABEL, median of $ROUNDS rounds:"
printf '  arp-scan --localnet              %6d ms\n' "$s"
printf '  orvo-cli discover (raw ARP)      %6d ms  %sx arp-scan\n' "$o" "$(ratio "$o" "$s")"
if [[ "$KERNEL" == 1 ]]; then
    k=$(printf '%s\n' "${kernel[@]}" | median)
    printf '  orvo-cli discover (kernel)       %6d ms  %sx arp-scan  (no CAP_NET_RAW)\n' "$k" "$(ratio "$k" "$s")"
fi
for link in plain late lossy; do
    hosts=$(awk -F'\t' -v l="$link" '($5 == "" ? "plain" : $5) == l' "$ORVO_LAB_MANIFEST" | wc -l)
    ((hosts > 0)) || continue
    line="  $link hosts ($hosts) found, of $((hosts * ROUNDS)):"
    for tool in arp-scan raw kernel; do
        [[ "$tool" != kernel || "$KERNEL" == 1 ]] || continue
        line+=" $tool ${found[$tool,$link]:-0}"
    done
    echo "$line"
done
INNER
)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
bash tests/lab/lab.sh --phones 40 --others 5 --silent 5 -- \
    env CLI="$cli" ROUNDS="$rounds24" KERNEL=1 LABEL="discovery sweep of a /24, 50 live hosts" \
    bash -c "$inner"
bash tests/lab/lab.sh --prefix-length 22 --phones 3 --others 0 --silent 0 --late 1 --lossy 1 -- \
    env CLI="$cli" ROUNDS="$rounds22" KERNEL=1 \
    LABEL="discovery sweep of a /22, 3 live hosts (one 150 ms late, one on a 10% lossy link)" \
    bash -c "$inner"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
