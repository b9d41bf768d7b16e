#include "ShellFixture.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <map>

namespace {

// The texts the program puts on controls while it runs, by control name.
const std::map<QString, QStringList> kRunTimeCaptions = {
    {"DDButton", {"LDDStopSearching", "LDDWait", "LDDStopping", "LDDBtnWait"}},
    {"DiscoverProgressLabel", {"LDDSearching", "LDDCleaning", "LDDProStopping", "LDDDoing"}},
    {"HttpServerControlButton",
     {"LHttpServerBtnStarting", "LHttpServerBtnStopping", "LHttpServerBtnStop"}},
    {"HttpServerStatusLabel", {"LHttpServerRunning", "LHttpsServerRunning"}},
    {"MyPnpServerControlBtn",
     {"LPnpServerBtnStarting", "LPnpServerBtnStopping", "LPnpServerBtnStop"}},
    {"PnpServerStatusLabel", {"LPnpServerRunning"}},
    {"TftpServerControlButton", {"LTftpServerBtnStop"}},
    {"TftpServerStatusLabel", {"LTftpServerRunning"}},
    {"TftpServerStateLabel", {"LTftpServerRunning"}},
    {"DhcpServerControlButton", {"LDhcpServerBtnStop"}},
    {"DhcpServerStatusLabel", {"LDhcpServerRunning"}},
    {"DhcpServerStateLabel", {"LDhcpServerRunning", "LDhcpServerProbing", "LDhcpServerEnded"}},
};

int textWidth(const QWidget* w, const QString& text) {
    return QFontMetrics(w->font()).size(Qt::TextShowMnemonic, text).width();
}

int buttonWidth(QPushButton* b, const QString& text) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    if (b->autoDefault())
        opt.features |= QStyleOptionButton::AutoDefaultButton;
    if (b->isDefault())
        opt.features |= QStyleOptionButton::DefaultButton;
    if (b->isFlat())
        opt.features |= QStyleOptionButton::Flat;
    // The option carries no text: some styles give a captioned button a minimum width, which
    // is about looks, not about room for the text.
    const QSize contents(textWidth(b, text), b->fontMetrics().height());
    return b->style()->sizeFromContents(QStyle::CT_PushButton, &opt, contents, b).width();
}

// Check boxes and radio buttons: the indicator, the spacing and the label margins.
int indicatorButtonWidth(QAbstractButton* b, const QString& text) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = text;
    const QSize contents(textWidth(b, text), b->fontMetrics().height());
    const QStyle::ContentsType type =
        qobject_cast<QRadioButton*>(b) ? QStyle::CT_RadioButton : QStyle::CT_CheckBox;
    return b->style()->sizeFromContents(type, &opt, contents, b).width();
}

int labelWidth(QLabel* l, const QString& text) {
    int indent = l->indent();
    if (indent < 0)
        indent = l->frameWidth() > 0 ? l->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int around = l->width() - l->contentsRect().width() + 2 * l->margin() + indent;
    return QFontMetrics(l->font()).size(0, text).width() + around;
}

// The title's place as the style lays it out, with the same room on its right as on its left.
int groupBoxWidth(QGroupBox* g, const QString& text) {
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = text;
    opt.lineWidth = 1;
    opt.textAlignment = g->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable())
        opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    if (g->isFlat())
        opt.features |= QStyleOptionFrame::Flat;
    const QRect title =
        g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    return title.right() + 1 + title.left();
}

// The width a control needs to show the text whole; -1 for a control without a caption.
int neededWidth(QWidget* w, const QString& text) {
    if (auto* b = qobject_cast<QPushButton*>(w))
        return buttonWidth(b, text);
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))
        return indicatorButtonWidth(static_cast<QAbstractButton*>(w), text);
    if (auto* l = qobject_cast<QLabel*>(w))
        return labelWidth(l, text);
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return groupBoxWidth(g, text);
    return -1;
}

QString captionOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

class CaptionFit : public ShellFixture {
  protected:
    // Every language file supplied with the program.
    QStringList SuppliedLanguages() {
        const QStringList names =
            QDir(SourceFile("data/ini/lang")).entryList(QDir::Files, QDir::Name);
        for (const QString& name : names)
            Supply("ini/lang/" + name);
        return names;
    }

    // Every named control's caption, and the run-time texts of those that have some, against
    // the control's width.
    void ExpectControlsFit(TForm1& w, const QString& language) {
        int measured = 0;
        for (QWidget* control : w.findChildren<QWidget*>()) {
            const QString name = control->objectName();
            if (name.isEmpty() || name.startsWith("qt_"))
                continue;
            QStringList texts{captionOf(control)};
            const auto runTime = kRunTimeCaptions.find(name);
            if (runTime != kRunTimeCaptions.end())
                for (const QString& key : runTime->second)
                    texts << w.Language().Translate(key);
            for (const QString& text : texts) {
                if (text.isEmpty())
                    continue;
                const int needed = neededWidth(control, text);
                if (needed < 0)
                    continue;
                ++measured;
                EXPECT_LE(needed, control->width())
                    << language.toStdString() << ": " << name.toStdString() << " \""
                    << text.toStdString() << "\" needs " << needed << " pixels in "
                    << QFontInfo(control->font()).family().toStdString();
            }
        }
        EXPECT_GT(measured, 60);
    }

    void ExpectTabsFit(TForm1& w, const QString& language) {
        QTabWidget* tabs = w.PageControl1;
        const QTabBar* bar = tabs->tabBar();
        const int space = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
        for (int i = 0; i < tabs->count(); ++i) {
            const QString text = tabs->tabText(i);
            const QRect tab = bar->tabRect(i);
            EXPECT_LE(textWidth(bar, text) + space, tab.width())
                << language.toStdString() << ": tab \"" << text.toStdString() << "\"";
            EXPECT_LE(bar->mapTo(tabs, tab.topRight()).x(), tabs->width())
                << language.toStdString() << ": tab \"" << text.toStdString() << "\"";
        }
    }
};

}  // namespace

TEST_F(CaptionFit, EveryCaptionOfEverySuppliedLanguageFitsItsControl) {
    const QStringList languages = SuppliedLanguages();
    ASSERT_TRUE(languages.contains("English"));
    ASSERT_TRUE(languages.contains("Deutsch"));
    TForm1& w = Start();
    w.show();
    for (const QString& language : languages) {
        ASSERT_TRUE(w.Language().LoadLanguage(language)) << language.toStdString();
        ExpectControlsFit(w, language);
        ExpectTabsFit(w, language);
    }
    EXPECT_TRUE(dialogs.shown.isEmpty());
}
