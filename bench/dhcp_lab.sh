#!/usr/bin/env bash
# DHCP under load on the phone lab: COUNT clients (distinct MACs, tests/lab/dhcp_flood.py in one
# host's namespace) ask for a lease at the same moment, served in turn by orvo-cli serve
# --dhcp-range and by dnsmasq alone with the configuration the tool writes (same engine, same
# options, no lease script), each with an empty lease file; the time from the first DISCOVER to
# the last ACK, the median of ROUNDS rounds each.
#   bench/dhcp_lab.sh [BUILD_DIR] [ROUNDS] [COUNT]   (needs root; 3 and 200)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
count=${3:-200}
cli=$(realpath "$build/bin/orvo-cli")
command -v dnsmasq >/dev/null || PATH=$PATH:/usr/sbin
command -v dnsmasq >/dev/null || { echo "dnsmasq is missing: scripts/install-deps bench" >&2; exit 1; }

inner=$(cat <<'INNER'
set -euo pipefail
net=${ORVO_LAB_IFACE%.*}
flooder="orvo-$ORVO_LAB_RUN-h0"
root=$ORVO_LAB_WORK/root; mkdir -p "$root"
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
flood() {  # one round against whatever serves now: the last ACK's milliseconds
    local out
    out=$(ip netns exec "$flooder" /usr/bin/python3 "$FLOOD" --count "$COUNT" --limit 300) ||
        { echo "not every client was leased: $out" >&2; exit 1; }
    sed 's/.*"last_ack_ms": \([0-9.]*\).*/\1/' <<<"$out"
}
waitFor() {  # $1 file, $2 text
    for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
    echo "no '$2' in $1" >&2; cat "$1" >&2; exit 1
}
ours=() alone=()
for ((r = 0; r < ROUNDS; r++)); do
    state=$ORVO_LAB_WORK/ours-$r; mkdir -p "$state"
    XDG_DATA_HOME=$state "$CLI" serve --root "$root" --port 0 --bind "$ORVO_LAB_IFACE" \
        --dhcp-range "$net.10-$net.250" >"$state/out" 2>&1 &
    pid=$!
    waitFor "$state/out" "DHCP Server started"
    ours+=($(flood)); kill "$pid"; wait "$pid" || true
    conf=$state/orvo-provision-tool/dhcp/dnsmasq.conf
    alone_dir=$ORVO_LAB_WORK/alone-$r; mkdir -p "$alone_dir"
    grep -v '^dhcp-script=\|^dhcp-leasefile=' "$conf" >"$alone_dir/dnsmasq.conf"
    echo "dhcp-leasefile=$alone_dir/leases" >>"$alone_dir/dnsmasq.conf"
    dnsmasq --keep-in-foreground --pid-file --conf-file="$alone_dir/dnsmasq.conf" 2>"$alone_dir/out" &
    pid=$!
    waitFor "$alone_dir/out" "started, version"
    alone+=($(flood)); kill "$pid"; wait "$pid" || true
done
o=$(printf '%s\n' "${ours[@]}" | median)
a=$(printf '%s\n' "${alone[@]}" | median)
echo "$COUNT clients at once, time to the last ACK, median of $ROUNDS rounds:"
echo "  orvo-cli serve --dhcp-range  $o ms   (rounds: ${ours[*]})"
echo "  dnsmasq alone                $a ms   (rounds: ${alone[*]})"
awk -v o="$o" -v a="$a" 'BEGIN {printf "  ratio                        %.2fx dnsmasq alone\n", o / a}'
INNER
)
bash tests/lab/lab.sh --phones 0 --others 0 --silent 1 -- \
    env CLI="$cli" FLOOD="$PWD/tests/lab/dhcp_flood.py" ROUNDS="$rounds" COUNT="$count" \
    PATH="$PATH" bash -c "$inner"
