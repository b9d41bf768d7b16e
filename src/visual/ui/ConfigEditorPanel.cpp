#include "visual/ui/ConfigEditorPanel.h"

#include "config/CfgTemplate.h"
#include "visual/PageDescription.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// Row geometry: 25 pixels of control and 5 of spacing.
int rowTop(int row) {
    return 30 * row + 2;
}

QLabel* captionLabel(QWidget* content, const QString& text, int row) {
    auto* label = new QLabel(content);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(20, rowTop(row), 155, 25);
    // A caption wider than its 155 pixels ends in an ellipsis and shows whole as tool-tip.
    // Texts too short to be that wide in any case are not measured.
    const QFontMetrics metrics(label->font());
    if (text.size() * metrics.maxWidth() > 155 && metrics.horizontalAdvance(text) > 155) {
        label->setText(metrics.elidedText(text, Qt::ElideRight, 155));
        label->setToolTip(text);
    } else {
        label->setText(text);
    }
    return label;
}

}  // namespace

ConfigEditorPanel::ConfigEditorPanel(QScrollArea* box, CfgTemplate* tpl,
                                     QAbstractButton* saveButton, Dialogs* dialogs, QObject* parent)
    : QObject(parent), box_(box), tpl_(tpl), saveButton_(saveButton), dialogs_(dialogs) {
    box_->setWidgetResizable(false);
    box_->verticalScrollBar()->setTracking(true);
    box_->viewport()->installEventFilter(this);
}

ConfigEditorPanel::~ConfigEditorPanel() {
    if (box_ && box_->viewport())
        box_->viewport()->removeEventFilter(this);
}

QWidget* ConfigEditorPanel::Content() const {
    return box_->widget();
}

void ConfigEditorPanel::ClearTables() {
    items_.clear();
    combos_.clear();
}

void ConfigEditorPanel::Clear() {
    ClearTables();
    node_ = -1;
    delete box_->takeWidget();
}

void ConfigEditorPanel::BuildPage(int node, const cJSON* page) {
    Clear();
    node_ = node;
    const PageDescription description = DescribePage(page, *dialogs_);
    const ParameterSet& params = tpl_->Parameters();

    // Made inside the box so that the controls take the box's font.
    auto* content = new QWidget(box_);
    auto bind = [&](QWidget* control, const PageItem& item, int n) {
        PNumber p = 0;
        if (!item.BoundNumber(n, &p))
            return;
        control->setToolTip(item.hint);
        const QByteArray* value = params.Find(p);
        int32_t kind = Tag_CfgItemInfo::Edit;
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            if (!params.IsEmpty() && value)
                edit->setText(QString::fromUtf8(*value));
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            kind = Tag_CfgItemInfo::Combo;
            combo->addItems(item.choices);
            std::vector<int>& values = combos_[combo];
            values = item.values;
            combo->setCurrentIndex(ComboIndexFor(values, combo->count(), value, params.IsEmpty()));
        }
        items_.emplace(p, Tag_CfgItemInfo{p, kind, control});
    };
    auto newEdit = [&](int left, int top, int width) {
        auto* edit = new QLineEdit(content);
        edit->setGeometry(left, top, width, 25);
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { OnItemChanged(edit); });
        return edit;
    };

    for (const PageItem& item : description.items) {
        const int top = rowTop(item.row);
        captionLabel(content, item.caption, item.row);
        if (item.groupCaption)
            continue;
        switch (item.kind) {
            case ViewKind::Edit:
                if (item.address) {
                    for (int j = 0; j < 4; ++j) {
                        bind(newEdit(300 + 40 * j, top, 35), item, j);
                        if (j == 0)
                            continue;
                        auto* dot = new QLabel(".", content);
                        dot->setTextFormat(Qt::PlainText);
                        dot->setGeometry(300 + 35 * j + 5 * (j - 1), top, 35, 25);
                        // The dot sits under the boxes and lets clicks through to them.
                        dot->setAttribute(Qt::WA_TransparentForMouseEvents);
                        dot->lower();
                    }
                } else {
                    bind(newEdit(300, top, 155), item, 0);
                }
                break;
            case ViewKind::ComboBox: {
                auto* combo = new QComboBox(content);
                combo->setGeometry(300, top, 155, 25);
                // A wheel over a combo box that has no focus scrolls the panel instead.
                combo->setFocusPolicy(Qt::StrongFocus);
                combo->installEventFilter(this);
                connect(combo, &QComboBox::activated, this,
                        [this, combo] { OnItemChanged(combo); });
                bind(combo, item, 0);
                break;
            }
            case ViewKind::Label:
                captionLabel(content, item.caption, item.row);
                break;
            case ViewKind::None:
                break;
        }
    }
    // The scrolled area covers every control with the top margin repeated below.
    QRect used;
    for (const QObject* child : content->children())
        if (child->isWidgetType())
            used |= static_cast<const QWidget*>(child)->geometry();
    content->resize(used.right() + 1, used.bottom() + 1 + 2);
    box_->setWidget(content);
    content->show();
}

void ConfigEditorPanel::CommitPage() {
    ParameterSet& params = tpl_->Parameters();
    for (const auto& [p, info] : items_) {
        if (info.kind == Tag_CfgItemInfo::Combo) {
            auto* combo = qobject_cast<QComboBox*>(info.control);
            if (!combo)
                continue;
            const auto values = combos_.find(combo);
            params.Set(
                p, ComboStoredText(values == combos_.end() ? std::vector<int>() : values->second,
                                   combo->currentIndex()));
        } else if (auto* edit = qobject_cast<QLineEdit*>(info.control)) {
            params.Set(p, edit->text().toUtf8());
        }
    }
}

void ConfigEditorPanel::OnItemChanged(QObject* control) {
    if (const Tag_CfgItemInfo* info = FindBinding(items_, control))
        tpl_->ChangedParams().insert(info->pno);
    auto* edit = qobject_cast<QLineEdit*>(control);
    if (saveButton_ && (!edit || edit->isModified()))
        saveButton_->setEnabled(true);
}

void ConfigEditorPanel::ConfigScrollBoxClick() {
    box_->setFocus(Qt::MouseFocusReason);
}

void ConfigEditorPanel::ConfigScrollBoxMouseWheelDown(Qt::KeyboardModifiers modifiers) {
    scrollBy(kWheelStep, modifiers);
}

void ConfigEditorPanel::ConfigScrollBoxMouseWheelUp(Qt::KeyboardModifiers modifiers) {
    scrollBy(-kWheelStep, modifiers);
}

void ConfigEditorPanel::scrollBy(int pixels, Qt::KeyboardModifiers modifiers) {
    const bool ctrl = modifiers & Qt::ControlModifier;
    const bool shift = modifiers & Qt::ShiftModifier;
    QScrollBar* h = box_->horizontalScrollBar();
    QScrollBar* v = box_->verticalScrollBar();
    if (ctrl)
        h->setValue(h->value() + pixels);
    if (!ctrl || shift)
        v->setValue(v->value() + pixels);
}

bool ConfigEditorPanel::wheel(QWheelEvent* event) {
    const QPoint delta = event->angleDelta();
    wheelRemainder_ += delta.y() != 0 ? delta.y() : delta.x();
    while (wheelRemainder_ <= -120) {
        wheelRemainder_ += 120;
        ConfigScrollBoxMouseWheelDown(event->modifiers());
    }
    while (wheelRemainder_ >= 120) {
        wheelRemainder_ -= 120;
        ConfigScrollBoxMouseWheelUp(event->modifiers());
    }
    event->accept();
    return true;
}

bool ConfigEditorPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == box_->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            ConfigScrollBoxClick();
        else if (event->type() == QEvent::Wheel)
            return wheel(static_cast<QWheelEvent*>(event));
    } else if (event->type() == QEvent::Wheel) {
        auto* combo = qobject_cast<QComboBox*>(watched);
        if (combo && !combo->hasFocus())
            return wheel(static_cast<QWheelEvent*>(event));
    }
    return QObject::eventFilter(watched, event);
}
