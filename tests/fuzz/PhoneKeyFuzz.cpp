// libFuzzer target: the record's readers of a phone from outside text, a requested path (as a
// client sent it), a MAC text (as a SUBSCRIBE or the grid gives it) and a User-Agent.
#include "record/PhoneKey.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool twelveLowerHex(const QByteArray& text) {
    if (text.size() != 12)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QByteArray mac = PhoneOfMac(text);
    check(mac.isEmpty() || twelveLowerHex(mac));

    // A MAC, or a PIN that is its file name without the extension; never a folder; only at
    // the top or in the cfg folder.
    const PhoneFile file = PhoneFileOf(text);
    const QByteArray& phone = file.phone;
    const qsizetype slash = text.lastIndexOf('/');
    const QByteArray name = text.mid(slash + 1);
    check(!phone.contains('/'));
    check(phone.isEmpty() || slash < 0 || text.left(slash) == "cfg");
    check(phone.isEmpty() || (!file.pin && twelveLowerHex(phone)) ||
          (file.pin && (name == phone + ".cfg" || name == phone + ".xml")));

    // Model and version: the version holds no blank, the model is what stands before it.
    QByteArray model, version;
    if (SplitUserAgent(text, &model, &version)) {
        QByteArray bare = text;  // without the blanks at either end (other spaces count)
        while (bare.startsWith(' '))
            bare.remove(0, 1);
        while (bare.endsWith(' '))
            bare.chop(1);
        check(!model.isEmpty() && !version.isEmpty() && !version.contains(' '));
        check(!model.startsWith(' ') && !model.endsWith(' '));
        check(bare.startsWith(model) && bare.endsWith(' ' + version));
    }
    return 0;
}
