// libFuzzer target: the two readers of an answer's User-Agent header, the device commands'
// online check and the discovery probe.
#include "discovery/DeviceCommand.h"
#include "discovery/QueryDevInfoBySipThread.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool hasHeader = reply.contains("User-Agent");

    QByteArray model, version;
    check(ParseOnlineCheckAnswer(reply, &model, &version) == hasHeader);
    if (hasHeader) {
        // The version is one word, the model the words before it; neither is empty.
        check(!model.isEmpty() && !version.isEmpty());
        check(!version.contains(' ') && !version.contains('\r') && !version.contains('\n'));
        check(!model.endsWith(' ') && !model.contains('\r') && !model.contains('\n'));
    }

    QString probeModel, probeVersion;
    check(QueryDevInfoBySipThread::ParseReply(reply, &probeModel, &probeVersion) == hasHeader);
    if (hasHeader) {
        check(!probeModel.isEmpty() && !probeVersion.isEmpty());
        check(!probeVersion.contains(' '));
        check(!probeModel.endsWith(' '));
    }
    return 0;
}
