#pragma once

#include "protection/AddressAllowList.h"
#include "protection/BasicCredentials.h"
#include "protection/LoginThrottle.h"

#include <QByteArray>
#include <string_view>

struct sockaddr;

// Who may download from the built-in servers: the address allow-list (HTTP and TFTP) and the
// credentials with their throttle of failed logins (HTTP). Shared by the server threads.
class ServerAccess {
  public:
    ServerAccess(AddressAllowList allowList, BasicCredentials credentials)
        : allowList_(std::move(allowList)), credentials_(std::move(credentials)) {}

    const AddressAllowList& AllowList() const { return allowList_; }
    const BasicCredentials& Credentials() const { return credentials_; }

    // What a request gets instead of its file, or status 0 when it is served.
    struct Refusal {
        int status = 0;  // 403, 429 or 401
        const char* reason = "";
        bool logged = true;  // false for the refusals of a block after its first
    };
    // In this order: an address not on the list (403), an address refused after too many failed
    // logins (429), a request without the credentials (401) or with wrong ones (401, counted as
    // a failure; the failure that starts a block is still answered 401).
    Refusal Check(const sockaddr* peer, const QByteArray& peerText, std::string_view authorization);

  private:
    AddressAllowList allowList_;
    BasicCredentials credentials_;
    LoginThrottle throttle_;
};
