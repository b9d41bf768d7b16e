#include "accesslog/ui/AccessLogField.h"

#include "accesslog/AccessLogLine.h"
#include "app/Dialogs.h"
#include "app/EscapedErrors.h"
#include "app/MyLog.h"
#include "app/SettingsStore.h"
#include "app/SettingsTable.h"
#include "page/PageControls.h"
#include "record/ProvisioningRecord.h"

#include <QFile>

namespace {

const char kLogFilter[] = "Access logs (*.log *.log.*)|*.log;*.log.*|All files|*";

// The places of the controls in a field of this width.
constexpr int kLabelWidth = 140, kEditLeft = 150, kButtonWidth = 36, kRowHeight = 27;

}  // namespace

AccessLogField::AccessLogField(const AppContext& ctx, QWidget* parent)
    : QWidget(parent),
      ctx_(ctx),
      worker_([this](const LogFollowReport& r) { Guarded([this, &r] { reported(r); })(); }) {
    setObjectName("AccessLogField");
    AccessLogLabel = MakeCaptioned<QLabel>(this, "AccessLogLabel", "Access log:", {});
    AccessLogEdit = MakeControl<QLineEdit>(this, "AccessLogEdit", {});
    AccessLogBtn = MakeCaptioned<QPushButton>(this, "AccessLogBtn", "...", {});
    AccessLogStateLabel = MakeCaptioned<QLabel>(this, "AccessLogStateLabel", "Not followed", {});
    resize(406, 2 * kRowHeight + 4);
    placeControls();

    connect(AccessLogBtn, &QPushButton::clicked, this, Guarded([this] { AccessLogBtnClick(); }));
    connect(AccessLogEdit, &QLineEdit::editingFinished, this, Guarded([this] {
                if (wanted_ && AccessLogEdit->text().trimmed() != followed_)
                    start();
            }));
    showState();
}

AccessLogField::~AccessLogField() {
    worker_.Stop();
}

void AccessLogField::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
}

// A widget not shown yet hears of its size only when shown: placed at once too.
void AccessLogField::placeControls() {
    const int w = width();
    AccessLogLabel->setGeometry(0, 3, kLabelWidth, 22);
    AccessLogEdit->setGeometry(kEditLeft, 1, w - kEditLeft - kButtonWidth - 6, 25);
    AccessLogBtn->setGeometry(w - kButtonWidth, 0, kButtonWidth, kRowHeight);
    AccessLogStateLabel->setGeometry(kEditLeft, kRowHeight + 5, w - kEditLeft, 22);
}

void AccessLogField::ReadSettings(const SettingsStore& settings) {
    AccessLogEdit->setText(settings.Read(Setting::AccessLogPath));
}

void AccessLogField::WriteSettings(SettingsStore& settings) const {
    // Settings files of earlier versions lack the section.
    settings.AddSectionIfMissing({Setting::AccessLogPath});
    settings.Write(Setting::AccessLogPath, AccessLogEdit->text());
}

void AccessLogField::Follow(const QByteArray& externalUrl) {
    // Asked again for what it follows (the URL's field left unchanged): it reads on.
    if (wanted_ && worker_.IsRunning() && externalUrl == url_ &&
        AccessLogEdit->text().trimmed() == followed_)
        return;
    wanted_ = true;
    url_ = externalUrl;
    start();
}

void AccessLogField::Stop() {
    wanted_ = false;
    if (worker_.IsRunning() && ctx_.log)
        ctx_.log->Write("ACCESS LOG: Stopped following " + QFile::encodeName(followed_));
    worker_.Stop();
    followed_.clear();
    status_ = Status::Idle;
    showState();
}

void AccessLogField::start() {
    worker_.Stop();
    followed_ = AccessLogEdit->text().trimmed();
    report_ = {};
    LogImportOptions options;
    if (followed_.isEmpty())
        status_ = Status::Idle;
    else if (!ctx_.record || !ctx_.record->IsOn())
        status_ = Status::RecordOff;
    else if (!UrlPathPrefix(url_, &options.prefix))
        status_ = Status::BadUrl;
    else
        status_ = Status::Following;
    if (status_ == Status::Following) {
        worker_.Start(ctx_.record->Path(), followed_, options);
        if (ctx_.log)
            ctx_.log->Write("ACCESS LOG: Following " + QFile::encodeName(followed_) + " below " +
                            (options.prefix.isEmpty() ? QByteArray("/") : options.prefix));
    }
    showState();
}

void AccessLogField::reported(const LogFollowReport& report) {
    if (ctx_.log) {
        const QByteArray log = QFile::encodeName(followed_);
        if (report.change == "rotated")
            ctx_.log->Write("ACCESS LOG: " + log + " was rotated: reading the new file");
        else if (report.change == "truncated")
            ctx_.log->Write("ACCESS LOG: " + log + " was truncated: reading it anew");
        if (report.trouble != LogFollowReport::Trouble::None &&
            (report.trouble != report_.trouble || report.reason != report_.reason))
            ctx_.log->Write("ACCESS LOG: " + log + ": " + report.reason.toUtf8());
    }
    report_ = report;
    showState();
}

void AccessLogField::showState() {
    QString text;
    bool good = false;
    switch (status_) {
        case Status::Idle:
            text = ctx_.Translate("AccessLogStateLabel");
            break;
        case Status::RecordOff:
            text = ctx_.Translate("LAccessLogError3");
            break;
        case Status::BadUrl:
            text = ctx_.Translate("LAccessLogError4") + QString::fromUtf8(url_);
            break;
        case Status::Following:
            switch (report_.trouble) {
                case LogFollowReport::Trouble::None:
                    good = true;
                    text = ctx_.Translate("LAccessLogFollowing").arg(report_.counts.recorded);
                    if (report_.counts.malformed > 0)
                        text += ctx_.Translate("LAccessLogSkipped").arg(report_.counts.malformed);
                    break;
                case LogFollowReport::Trouble::Record:
                    text = ctx_.Translate("LAccessLogError1") + report_.reason;
                    break;
                case LogFollowReport::Trouble::Log:
                    text = ctx_.Translate("LAccessLogError2") + report_.reason;
                    break;
            }
            break;
    }
    AccessLogStateLabel->setText(text);
    AccessLogStateLabel->setToolTip(text);
    // Green while it follows, maroon otherwise, as the servers' states.
    QPalette palette = AccessLogStateLabel->palette();
    palette.setColor(QPalette::WindowText, good ? QColor(0, 128, 0) : QColor(128, 0, 0));
    AccessLogStateLabel->setPalette(palette);
}

void AccessLogField::Translate() {
    AccessLogEdit->setToolTip(ctx_.Translate("LAccessLogHint"));
    showState();
}

void AccessLogField::AccessLogBtnClick() {
    const QString path = ctx_.dialogs->openFile(kLogFilter);
    if (path.isEmpty())
        return;
    AccessLogEdit->setText(path);
    if (wanted_)
        start();
}
