#!/usr/bin/env bash
# A storm of SUBSCRIBEs on the phone lab: 50 phones announce themselves 20 times each within
# 2 seconds (1,000 SUBSCRIBEs) to orvo-cli pnp, which answers each with its NOTIFY. The phones
# time every SUBSCRIBE to the NOTIFY that carries its Call-ID.
#   bench/pnp_storm.sh [BUILD_DIR] [ROUNDS] [WINDOW_SECONDS]      (needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rounds=${2:-3}
window=${3:-2}
cli=$(realpath "$build/bin/orvo-cli")
sim=$(realpath tests/lab/phone_sim.py)

inner=$(cat <<'INNER'
set -euo pipefail
out=$ORVO_LAB_WORK/storm
mkdir -p "$out"
echo "plug-and-play storm: $PHONES phones x $COUNT SUBSCRIBEs within $WINDOW s, $ROUNDS rounds"
printf '  %-5s %9s %9s %9s %9s %9s\n' round answered p50/ms p99/ms max/ms logged
for ((r = 1; r <= ROUNDS; r++)); do
    : >"$out/timings"
    "$CLI" pnp --iface "$ORVO_LAB_IFACE" --url "http://$ORVO_LAB_IFACE:6000/cfg" \
        --port 5060 >"$out/pnp.log" 2>&1 &
    pnp=$!
    for ((t = 0; t < 100; t++)); do
        grep -q "PNP Server started!" "$out/pnp.log" && break
        sleep 0.05
    done
    /usr/bin/python3 "$SIM" --phones "$ORVO_LAB_WORK/phones" --port 5070 \
        --subscribe 224.0.1.75:5060 --subscribe-count "$COUNT" --subscribe-window "$WINDOW" \
        --timings "$out/timings" --duration 3
    kill -TERM "$pnp"
    wait "$pnp" || true
    logged=$(grep -c "PNP: MAC MODE" "$out/pnp.log" || true)
    sort -n -k2 "$out/timings" | awk -v r="$r" -v logged="$logged" '
        { t[NR] = $2 }
        END {
            n = NR
            p50 = n ? t[int((n - 1) * 0.50) + 1] : 0
            p99 = n ? t[int((n - 1) * 0.99) + 1] : 0
            printf "  %-5s %9d %9.2f %9.2f %9.2f %9d\n", r, n, p50, p99, n ? t[n] : 0, logged
        }'
done
INNER
)
CLI="$cli" SIM="$sim" ROUNDS="$rounds" PHONES=50 COUNT=20 WINDOW="$window" \
    bash tests/lab/lab.sh --phones 50 --others 0 --silent 0 -- \
    env CLI="$cli" SIM="$sim" ROUNDS="$rounds" PHONES=50 COUNT=20 WINDOW="$window" bash -c "$inner"
