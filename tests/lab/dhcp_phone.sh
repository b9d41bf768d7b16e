#!/usr/bin/env bash
# A phone of the lab without an address takes a lease with a real DHCP client (dhclient,
# asking for options 66, 150 and 160) in its own namespace, then fetches its configuration
# from the URL it was given, as the phone simulator fetches after a ua-profile NOTIFY.
#
#   dhcp_phone.sh lease INDEX [--vendor-class TEXT] [--host-name NAME] [--request ADDR]
#                             [--forget] [--no-fetch] [--cafile FILE] [--timeout SECONDS]
#   dhcp_phone.sh release INDEX
#
# INDEX is the host's number in the lab (namespace orvo-<run>-h<INDEX>). Needs ORVO_LAB_RUN and
# ORVO_LAB_WORK (lab.sh sets them). The client's files are $ORVO_LAB_WORK/dhcp/h<INDEX>.*: conf,
# leases (the client's own lease database; --forget removes it first, so that the client asks
# for no address of its own), pid, and lease: what the last lease gave, lines NAME=VALUE
# (address, mask, router, dns, server, lease, option66, option150, option160), removed on
# release. "lease" exits 0 once the phone has its address (and has fetched, unless --no-fetch:
# the fetch is in $ORVO_LAB_WORK/fetched/fetches.log), 1 when no server gave one in time; it
# prints the lease file. A client of the phone still running is stopped first (without a
# release), as when a phone restarts.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
action=${1:?lease or release}
index=${2:?host index}
shift 2
: "${ORVO_LAB_RUN:?}" "${ORVO_LAB_WORK:?}"
ns="orvo-$ORVO_LAB_RUN-h$index"
dir="$ORVO_LAB_WORK/dhcp"
base="$dir/h$index"
mkdir -p "$dir"
vendor="" host="" request="" forget=0 fetch=1 cafile="" timeout=30
while [[ $# -gt 0 ]]; do
    case "$1" in
        --vendor-class) vendor=$2; shift 2 ;;
        --host-name) host=$2; shift 2 ;;
        --request) request=$2; shift 2 ;;
        --forget) forget=1; shift ;;
        --no-fetch) fetch=0; shift ;;
        --cafile) cafile=$2; shift 2 ;;
        --timeout) timeout=$2; shift 2 ;;
        *) echo "dhcp_phone: unknown option $1" >&2; exit 2 ;;
    esac
done

# Text for a dhclient.conf string: backslash and quote escaped.
quote() { local s=${1//\\/\\\\}; printf '"%s"' "${s//\"/\\\"}"; }

client() {  # dhclient with this phone's files, in its namespace
    ip netns exec "$ns" dhclient -4 -cf "$base.conf" -lf "$base.leases" -pf "$base.pid" \
        -sf "$here/dhcp_hook.sh" -e "ORVO_LEASE_FILE=$base.lease" "$@" eth0
}

case "$action" in
    lease)
        {
            echo "timeout $timeout;"
            echo "retry 1;"
            echo "initial-interval 1;"
            echo "option tftp150 code 150 = array of ip-address;"
            echo "option pnp160 code 160 = text;"
            [[ -z "$vendor" ]] || echo "send vendor-class-identifier $(quote "$vendor");"
            [[ -z "$host" ]] || echo "send host-name $(quote "$host");"
            [[ -z "$request" ]] || echo "send dhcp-requested-address $request;"
            echo "request subnet-mask, routers, domain-name-servers, dhcp-lease-time,"
            echo "    dhcp-server-identifier, tftp-server-name, tftp150, pnp160;"
        } >"$base.conf"
        [[ ! -s "$base.pid" ]] || client -x >/dev/null 2>&1 || true
        ((forget == 0)) || rm -f "$base.leases"
        rm -f "$base.lease"
        client -1 >"$base.out" 2>&1 || { cat "$base.out" >&2; exit 1; }
        [[ -s "$base.lease" ]] || { echo "dhcp_phone: no lease file" >&2; exit 1; }
        cat "$base.lease"
        if ((fetch)); then
            mac=$(ip netns exec "$ns" cat /sys/class/net/eth0/address)
            args=(--fetch-lease "$base.lease" --mac "$mac" --fetched "$ORVO_LAB_WORK/fetched")
            [[ -z "$cafile" ]] || args+=(--cafile "$cafile")
            ip netns exec "$ns" /usr/bin/python3 "$here/phone_sim.py" "${args[@]}"
        fi
        ;;
    release)
        client -r >"$base.out" 2>&1 || { cat "$base.out" >&2; exit 1; }
        ;;
    *) echo "dhcp_phone: lease or release" >&2; exit 2 ;;
esac
