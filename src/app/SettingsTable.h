#pragma once

// Every section and key of setting.ini, with the value the program uses when the key is
// missing. data/ini/$default.ini ships with each of them.
struct SettingKey {
    const char* section;
    const char* key;
    const char* defaultValue;
};

namespace Setting {
inline constexpr SettingKey Lang{"[LANG]", "lang", "English"};
inline constexpr SettingKey LogTotalCount{"[LOG SETTING]", "total_count", "0"};
inline constexpr SettingKey MacFilterMode{"[MAC FILTER]", "mode", "0"};
inline constexpr SettingKey MacFilterFilter{"[MAC FILTER]", "filter", ""};
inline constexpr SettingKey MacFilterInput{"[MAC FILTER]", "input", ""};
inline constexpr SettingKey ProvisionMode{"[PROVISION MODE]", "mode", "0"};
inline constexpr SettingKey BatchCfgEncrypt{"[BATCH]", "cfg_encrypt", "0"};
inline constexpr SettingKey BatchMode{"[BATCH]", "mode", "0"};
inline constexpr SettingKey BatchFormat{"[BATCH]", "format", "0"};
inline constexpr SettingKey BatchXmlEncrypt{"[BATCH]", "xml_encrpyt", "0"};
inline constexpr SettingKey BatchXmlEncryptKey{"[BATCH]", "xml_encrypt_key", ""};
inline constexpr SettingKey HttpMode{"[HTTP SERVER]", "mode", "0"};
inline constexpr SettingKey HttpBuiltInPort{"[HTTP SERVER]", "built_in_port", "6000"};
inline constexpr SettingKey HttpExPath{"[HTTP SERVER]", "ex_path", ""};
// The built-in HTTP server's protection: HTTPS (0 off, 1 on) with a PEM certificate and key (both
// empty: the self-signed pair in ini/tls), the address allow-list (empty: every client) and
// the credentials (both empty: none).
inline constexpr SettingKey HttpsOn{"[HTTP SERVER]", "https", "0"};
inline constexpr SettingKey HttpTlsCert{"[HTTP SERVER]", "tls_cert", ""};
inline constexpr SettingKey HttpTlsKey{"[HTTP SERVER]", "tls_key", ""};
inline constexpr SettingKey HttpAllow{"[HTTP SERVER]", "allow", ""};
inline constexpr SettingKey HttpAuthUser{"[HTTP SERVER]", "auth_user", ""};
inline constexpr SettingKey HttpAuthPassword{"[HTTP SERVER]", "auth_password", ""};
inline constexpr SettingKey PnpMode{"[PNP SERVER]", "mode", "0"};
inline constexpr SettingKey PnpGroup{"[PNP SERVER]", "group", "224.0.1.75"};
inline constexpr SettingKey PnpPort{"[PNP SERVER]", "port", "5060"};
// The built-in TFTP server's port, and the protocol of the built-in server handed to phones
// (0 HTTP, 1 TFTP).
inline constexpr SettingKey TftpPort{"[TFTP SERVER]", "port", "69"};
inline constexpr SettingKey TftpProtocol{"[TFTP SERVER]", "protocol", "0"};
// The bench DHCP server: the range handed out (FIRST-LAST), the lease seconds, the router and
// DNS servers handed out (empty: none), and whether it serves beside another DHCP server.
inline constexpr SettingKey DhcpRange{"[DHCP SERVER]", "range", ""};
inline constexpr SettingKey DhcpLease{"[DHCP SERVER]", "lease", "3600"};
inline constexpr SettingKey DhcpRouter{"[DHCP SERVER]", "router", ""};
inline constexpr SettingKey DhcpDns{"[DHCP SERVER]", "dns", ""};
inline constexpr SettingKey DhcpIgnoreOther{"[DHCP SERVER]", "ignore_other", "0"};
inline constexpr SettingKey PnoUpgradeMode{"[PNO]", "p_upgrade_mode", "0"};
inline constexpr SettingKey PnoCfgServerPath{"[PNO]", "p_cfg_server_path", "0"};
inline constexpr SettingKey PnoFwServerPath{"[PNO]", "p_fw_server_path", "0"};
// Days the provisioning record keeps its events (0 keeps all), applied at start.
inline constexpr SettingKey RecordKeepDays{"[RECORD]", "keep_days", "90"};
// The external web server's access log the window follows into the record while "External
// Server" is chosen (empty: none).
inline constexpr SettingKey AccessLogPath{"[ACCESS LOG]", "path", ""};

inline constexpr SettingKey All[] = {
    Lang,
    LogTotalCount,
    MacFilterMode,
    MacFilterFilter,
    MacFilterInput,
    ProvisionMode,
    BatchCfgEncrypt,
    BatchMode,
    BatchFormat,
    BatchXmlEncrypt,
    BatchXmlEncryptKey,
    HttpMode,
    HttpBuiltInPort,
    HttpExPath,
    HttpsOn,
    HttpTlsCert,
    HttpTlsKey,
    HttpAllow,
    HttpAuthUser,
    HttpAuthPassword,
    PnpMode,
    PnpGroup,
    PnpPort,
    TftpPort,
    TftpProtocol,
    DhcpRange,
    DhcpLease,
    DhcpRouter,
    DhcpDns,
    DhcpIgnoreOther,
    PnoUpgradeMode,
    PnoCfgServerPath,
    PnoFwServerPath,
    RecordKeepDays,
    AccessLogPath,
};
}  // namespace Setting
