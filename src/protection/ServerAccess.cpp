#include "protection/ServerAccess.h"

ServerAccess::Refusal ServerAccess::Check(const sockaddr* peer, const QByteArray& peerText,
                                          std::string_view authorization) {
    if (!allowList_.Allows(peer))
        return {403, "address not allowed"};
    if (!credentials_.IsSet())
        return {};
    const auto now = LoginThrottle::Clock::now();
    bool first = false;
    if (throttle_.Refuses(peerText, now, &first))
        return {429, "10 failed logins within a minute, refused for 60 s", first};
    switch (credentials_.Check(authorization)) {
        case BasicCredentials::Verdict::Missing:
            return {401, "no credentials"};
        case BasicCredentials::Verdict::Wrong:
            throttle_.Fail(peerText, now);
            return {401, "wrong credentials"};
        case BasicCredentials::Verdict::Right:
            throttle_.Succeed(peerText);
            break;
    }
    return {};
}
