#pragma once

#include <QColor>
#include <QString>
#include <QStyledItemDelegate>
#include <functional>
#include <optional>

// How a row status of the bulk encryption grid is drawn.
struct ToolStatusLook {
    const char* textKey;  // language key of the text
    QColor background;
    QColor text;
};

// The look of a status code (ToolStatus*); nothing for codes that are not drawn.
std::optional<ToolStatusLook> ToolStatusLookOf(int code);

// Draws the status column of ToolEncryptFileListGrid (ToolEncryptFileListGridDrawCell): the
// cell holds the decimal status code and shows the translated text on its status colour, on
// one line. A selected waiting cell keeps the selection colour; other codes keep their colour.
// Cells without a known code are drawn as plain text.
class ToolStatusDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using TranslateFn = std::function<QString(const QString&)>;

    explicit ToolStatusDelegate(TranslateFn translate, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    TranslateFn translate_;
};
