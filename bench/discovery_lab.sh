#!/usr/bin/env bash
# Discovery sweep of a /24 with 50 live hosts on the phone lab, against arp-scan on the same
# lab in the same run, and the unprivileged fallback (no CAP_NET_RAW).
#   bench/discovery_lab.sh [BUILD_DIR] [ROUNDS]      (needs root; arp-scan: install-deps bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
cli=$(realpath "$build/bin/orvo-cli")
command -v arp-scan >/dev/null || { echo "arp-scan is missing: scripts/install-deps bench" >&2; exit 1; }

inner=$(cat <<'INNER'
set -euo pipefail
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ms() { echo $(($(date +%s%N) / 1000000)); }
scan=() ours=() kernel=() scanHosts="" ourHosts="" kernelHosts=""
for ((r = 0; r < ROUNDS; r++)); do
    ip neigh flush all
    t0=$(ms); out=$(arp-scan -I eth0 --localnet -q); t1=$(ms)
    scan+=($((t1 - t0)))
    scanHosts=$(grep -c $'^[0-9.]*\t' <<<"$out")
    ip neigh flush all
    line=$("$CLI" discover --iface "$ORVO_LAB_IFACE" | tail -1)
    ours+=($(sed 's/.*sweep: \([0-9.]*\) s.*/\1/' <<<"$line" | awk '{printf "%d", $1 * 1000}'))
    ourHosts=$(sed 's/hosts found: \([0-9]*\),.*/\1/' <<<"$line")
    ip neigh flush all
    line=$(setpriv --bounding-set -net_raw "$CLI" discover --iface "$ORVO_LAB_IFACE" 2>/dev/null | tail -1)
    kernel+=($(sed 's/.*sweep: \([0-9.]*\) s.*/\1/' <<<"$line" | awk '{printf "%d", $1 * 1000}'))
    kernelHosts=$(sed 's/hosts found: \([0-9]*\),.*/\1/' <<<"$line")
done
s=$(printf '%s\n' "${scan[@]}" | median)
o=$(printf '%s\n' "${ours[@]}" | median)
k=$(printf '%s\n' "${kernel[@]}" | median)
live=$(grep -vc '^$' "$ORVO_LAB_MANIFEST")
echo "discovery sweep of a /24, $live live hosts, median of $ROUNDS rounds:"
printf '  arp-scan --localnet           %6d ms  %s hosts\n' "$s" "$scanHosts"
printf '  orvo-cli discover (raw ARP)   %6d ms  %s hosts  (%.2fx arp-scan)\n' "$o" "$ourHosts" "$(awk -v a="$o" -v b="$s" 'BEGIN {print a / b}')"
printf '  orvo-cli discover (kernel)    %6d ms  %s hosts  (no CAP_NET_RAW)\n' "$k" "$kernelHosts"
INNER
)
CLI="$cli" ROUNDS="$rounds" bash tests/lab/lab.sh --phones 40 --others 5 --silent 5 -- \
    env CLI="$cli" ROUNDS="$rounds" bash -c "$inner"
