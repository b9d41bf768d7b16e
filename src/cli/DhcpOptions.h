#pragma once

#include "app/ServerUrl.h"
#include "cli/Cli.h"

#include <memory>
#include <vector>

// The DHCP server of orvo-cli serve: --dhcp-range FIRST-LAST and the options that go with it.
std::vector<CliOption> DhcpServeOptions();
// serve's own options followed by the DHCP ones.
std::vector<CliOption> WithDhcpOptions(std::vector<CliOption> options);

class DhcpServer;
struct DhcpPlan;

class CliDhcp {
  public:
    explicit CliDhcp(const CliArgs& args);
    ~CliDhcp();

    // Checks the DHCP options before any server starts: false with the exit status (2, one
    // line) when they are malformed or do not fit the --bind address's network.
    bool Check(int* status);
    // After the HTTP and TFTP servers have started (ports 0: not running): probes the link for
    // other DHCP servers, then starts server handing out the built-in server's URL. Nothing
    // when --dhcp-range was not given. False with the exit status (1) when another server
    // answers (unless --dhcp-ignore-other) or the server cannot start.
    bool Start(DhcpServer& server, quint16 httpPort, quint16 tftpPort, const UrlAccess& access,
               int* status);

  private:
    const CliArgs& args_;
    std::unique_ptr<DhcpPlan> plan_;
};

// Where orvo-cli serve's DHCP server keeps its leases: the user's runtime folder, as the start
// script lays it out; empty when neither XDG_DATA_HOME nor HOME is set.
QString CliDhcpFolder();
