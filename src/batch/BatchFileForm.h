#pragma once

#include "batch/BatchRun.h"
#include "config/ParameterSet.h"
#include "config/XmlFile.h"

#include <QByteArray>
#include <vector>

// The bytes of a batch run's files. Rows differ only in the values of a few parameters, so the
// writers' text (BuildBinText or PrintXmlConfig) is formed once with a marker in each of those
// values and cut there; a row's text is the parts joined by its values, escaped as the XML
// printer escapes text. The bytes are those of the writers for the same parameter set.
class BatchFileForm {
  public:
    // varying: the parameters whose values change from row to row.
    BatchFileForm(const BatchJob& job, const ParameterSet& params, std::vector<PNumber> varying);

    // The file's bytes for params, which may differ from the set given above only in the
    // values of the varying parameters. XML: losses (when given) becomes what the writer
    // left out of the values.
    QByteArray Bytes(const ParameterSet& params, XmlLosses* losses = nullptr) const;
    // False when a value of the set holds a marker: every row's text is then formed whole.
    bool Prepared() const { return prepared_; }

  private:
    QByteArray text(const ParameterSet& params, XmlLosses* losses) const;
    QByteArray slotText(PNumber p, const QByteArray& value, XmlLosses* losses) const;

    BatchFormat format_;
    bool scrambled_;
    bool encrypted_;
    QByteArray key_;
    std::vector<PNumber> slots_;     // in the order they occur in the text
    std::vector<QByteArray> parts_;  // one more than slots_
    XmlLosses fixedLosses_;          // what the values of the other parameters lose
    bool prepared_ = false;
};

// The marker of the slot with this index.
QByteArray BatchSlotMarker(size_t index);
