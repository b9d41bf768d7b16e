#!/bin/sh
# dhclient's script for the lab's DHCP phones: sets and removes the address on the phone's
# interface (nothing else of the system: no resolv.conf, no routes), and keeps what the lease
# gave in $ORVO_LEASE_FILE (dhcp_phone.sh).
case "$reason" in
    PREINIT)
        ip link set dev "$interface" up
        ;;
    BOUND | RENEW | REBIND | REBOOT)
        if [ -n "${old_ip_address:-}" ] && [ "$old_ip_address" != "$new_ip_address" ]; then
            ip -4 addr flush dev "$interface"
        fi
        ip addr replace "$new_ip_address/$new_subnet_mask" dev "$interface"
        tmp="$ORVO_LEASE_FILE.tmp"
        {
            echo "address=$new_ip_address"
            echo "mask=$new_subnet_mask"
            echo "router=${new_routers:-}"
            echo "dns=${new_domain_name_servers:-}"
            echo "server=${new_dhcp_server_identifier:-}"
            echo "lease=${new_dhcp_lease_time:-}"
            echo "option66=${new_tftp_server_name:-}"
            echo "option150=${new_tftp150:-}"
            echo "option160=${new_pnp160:-}"
        } >"$tmp"
        mv "$tmp" "$ORVO_LEASE_FILE"
        ;;
    RELEASE | EXPIRE | FAIL | STOP)
        ip -4 addr flush dev "$interface"
        rm -f "$ORVO_LEASE_FILE"
        ;;
esac
exit 0
