#include "batch/BatchFileForm.h"

#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

#include <tinyxml2.h>

#include <algorithm>

QByteArray BatchSlotMarker(size_t index) {
    return "{$orvo.batch.slot." + QByteArray::number(static_cast<qulonglong>(index)) + "}";
}

BatchFileForm::BatchFileForm(const BatchJob& job, const ParameterSet& params,
                             std::vector<PNumber> varying)
    : format_(job.format),
      scrambled_(job.format == BatchFormat::Bin && job.scrambled),
      encrypted_(job.format == BatchFormat::Xml && job.xmlEncrypted),
      key_(job.xmlKey) {
    std::sort(varying.begin(), varying.end());
    varying.erase(std::unique(varying.begin(), varying.end()), varying.end());
    varying.erase(std::remove_if(varying.begin(), varying.end(),
                                 [&](PNumber p) { return !params.Contains(p); }),
                  varying.end());

    ParameterSet marked = params;
    for (size_t i = 0; i < varying.size(); ++i)
        marked.Set(varying[i], BatchSlotMarker(i));
    // A marker must stand only where a slot's value goes.
    for (size_t i = 0; i < varying.size(); ++i) {
        const QByteArray marker = BatchSlotMarker(i);
        for (const auto& [p, value] : params)
            if (value.contains(marker))
                return;
    }
    const QByteArray whole =
        format_ == BatchFormat::Bin ? BuildBinText(marked) : PrintXmlConfig(marked);
    std::vector<std::pair<qsizetype, size_t>> found;  // position, slot index
    for (size_t i = 0; i < varying.size(); ++i) {
        const QByteArray marker = BatchSlotMarker(i);
        const qsizetype at = whole.indexOf(marker);
        if (at < 0 || whole.indexOf(marker, at + 1) >= 0)
            return;
        found.push_back({at, i});
    }
    std::sort(found.begin(), found.end());
    qsizetype from = 0;
    for (const auto& [at, i] : found) {
        parts_.push_back(whole.mid(from, at - from));
        slots_.push_back(varying[i]);
        from = at + BatchSlotMarker(i).size();
    }
    parts_.push_back(whole.mid(from));
    prepared_ = true;
}

QByteArray BatchFileForm::slotText(const QByteArray& value) const {
    if (format_ == BatchFormat::Bin)
        return value;
    // The printer's own escaping of element text.
    tinyxml2::XMLPrinter printer(nullptr, true);
    printer.PushText(value.constData());
    return QByteArray(printer.CStr(), printer.CStrSize() - 1);
}

QByteArray BatchFileForm::text(const ParameterSet& params) const {
    if (!prepared_)
        return format_ == BatchFormat::Bin ? BuildBinText(params) : PrintXmlConfig(params);
    std::vector<QByteArray> values;
    values.reserve(slots_.size());
    qsizetype size = 0;
    for (const QByteArray& part : parts_)
        size += part.size();
    for (const PNumber p : slots_) {
        values.push_back(slotText(params.Value(p)));
        size += values.back().size();
    }
    QByteArray out;
    // Room for an encrypted file's zero bytes, which are added in place.
    out.reserve(size + (encrypted_ ? 17 : 0));
    for (size_t i = 0; i < values.size(); ++i) {
        out += parts_[i];
        out += values[i];
    }
    out += parts_.back();
    return out;
}

QByteArray BatchFileForm::Bytes(const ParameterSet& params) const {
    QByteArray t = text(params);
    if (scrambled_)
        return ScrambleBinText(t);
    if (encrypted_)
        return EncryptedXmlBytes(std::move(t), key_);
    return t;
}
