#include "batch/BatchFileForm.h"

#include "config/BinFile.h"
#include "config/CfgCrypto.h"
#include "config/XmlFile.h"

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
        format_ == BatchFormat::Bin ? BuildBinText(marked) : PrintXmlConfig(marked, &fixedLosses_);
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

QByteArray BatchFileForm::slotText(PNumber p, const QByteArray& value, XmlLosses* losses) const {
    if (format_ == BatchFormat::Bin)
        return value;
    return XmlElementText("P" + QByteArray::number(p), value, losses);
}

QByteArray BatchFileForm::text(const ParameterSet& params, XmlLosses* losses) const {
    if (losses)
        losses->clear();
    if (!prepared_)
        return format_ == BatchFormat::Bin ? BuildBinText(params) : PrintXmlConfig(params, losses);
    std::vector<QByteArray> values;
    values.reserve(slots_.size());
    qsizetype size = 0;
    for (const QByteArray& part : parts_)
        size += part.size();
    XmlLosses slotLosses;
    for (const PNumber p : slots_) {
        values.push_back(slotText(p, params.Value(p), &slotLosses));
        size += values.back().size();
    }
    if (losses) {
        // In document order, as the writer notes them.
        *losses = fixedLosses_;
        losses->insert(losses->end(), slotLosses.begin(), slotLosses.end());
        std::stable_sort(losses->begin(), losses->end(), [](const XmlLoss& a, const XmlLoss& b) {
            return a.element.mid(1).toInt() < b.element.mid(1).toInt();
        });
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

QByteArray BatchFileForm::Bytes(const ParameterSet& params, XmlLosses* losses) const {
    QByteArray t = text(params, losses);
    if (scrambled_)
        return ScrambleBinText(t);
    if (encrypted_)
        return EncryptedXmlBytes(std::move(t), key_);
    return t;
}
