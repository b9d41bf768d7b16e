// libFuzzer target: the mask that log lines and the record put on URLs. Any text: masking it
// again changes nothing, and a masked URL is the text with one span before its last "@"
// written "***". The input's first two lines as a user name and password: the URL phones are
// told with them shows neither but the user name.
#include "FuzzSupport.h"
#include "app/ServerUrl.h"

#include <QUrl>

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = bytes(data, size);
    const QByteArray masked = UrlWithoutPassword(input);
    FUZZ_CHECK(UrlWithoutPassword(masked) == masked);
    if (masked != input) {
        const qsizetype at = input.lastIndexOf('@');
        FUZZ_CHECK(at >= 0);
        const QByteArray after = input.mid(at);
        FUZZ_CHECK(masked.endsWith("***" + after));
        FUZZ_CHECK(input.startsWith(masked.left(masked.size() - 3 - after.size())));
    }

    const QList<QByteArray> lines = input.split('\n');
    const QByteArray user = lines.value(0), password = lines.value(1);
    if (user.isEmpty() && password.isEmpty())
        return 0;
    const QByteArray url = ConfigServerUrl(ServerSource::BuiltIn, "10.0.0.2", "6000", {},
                                           ServerProtocol::Http, {true, user, password});
    FUZZ_CHECK(UrlWithoutPassword(url) == "https://" +
                                              QUrl::toPercentEncoding(QString::fromUtf8(user)) +
                                              ":***@10.0.0.2:6000/cfg");
    return 0;
}
