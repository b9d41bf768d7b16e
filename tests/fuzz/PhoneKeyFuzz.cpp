// libFuzzer target: the record's readers of a phone from outside text, a requested path (as a
// client sent it) and a MAC text (as a SUBSCRIBE or the grid gives it).
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

    // A MAC, or a PIN that is its file name without the extension; never a folder.
    const QByteArray phone = PhoneOfFile(text);
    const QByteArray name = text.mid(text.lastIndexOf('/') + 1);
    check(!phone.contains('/'));
    check(phone.isEmpty() || twelveLowerHex(phone) || name == phone + ".cfg" ||
          name == phone + ".xml");
    return 0;
}
