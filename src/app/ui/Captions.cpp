#include "app/ui/Captions.h"

#include "app/LanguageTable.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QStackedWidget>
#include <QTabWidget>

namespace {

// The tab widget that shows page as one of its tabs, or null.
QTabWidget* tabWidgetOf(QWidget* page) {
    auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
    if (!stack)
        return nullptr;
    auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
    return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

void applyCaption(QObject* object, const QString& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(object)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(object)) {
        label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(object)) {
        group->setTitle(text);
    } else if (auto* action = qobject_cast<QAction*>(object)) {
        action->setText(text);
    } else if (auto* widget = qobject_cast<QWidget*>(object)) {
        if (QTabWidget* tabs = tabWidgetOf(widget))
            tabs->setTabText(tabs->indexOf(widget), text);
    }
}

}  // namespace

void ApplyCaptions(const LanguageTable& language, QWidget* window) {
    if (!window)
        return;
    const QList<QObject*> objects = window->findChildren<QObject*>();
    for (QObject* object : objects) {
        const QString name = object->objectName();
        if (name.isEmpty())
            continue;
        const std::optional<QString> text = language.Lookup(name);
        if (text && !text->isEmpty())
            applyCaption(object, *text);
    }
}

void ApplyCaptionsToAllWindows(const LanguageTable& language) {
    for (QWidget* window : QApplication::topLevelWidgets())
        ApplyCaptions(language, window);
}
