#include "ShellFixture.h"
#include "app/EscapedErrors.h"
#include "app/SocketError.h"
#include "app/ui/OrvoApplication.h"
#include "app/ui/QtDialogs.h"
#include "servers/ui/ServerPage.h"

#include <QMouseEvent>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <functional>

namespace {

// An object whose event handler throws.
class Thrower : public QObject {
  public:
    std::function<void()> action;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User)
            action();
        return QObject::event(e);
    }
};

// The window is the application-level handler while it exists; unguarded exceptions reach it
// through the application object's notify.
using AppLevelTest = ShellFixture;

TEST_F(AppLevelTest, EscapedSocketFailuresGiveTheirMessageAndTheProgramGoesOn) {
    SupplyLanguages();
    TForm1& w = Start();
    QPushButton* button = w.ServerTab->HttpServerControlButton;

    using K = SocketError::Kind;
    struct Case {
        std::function<void()> raise;
        QStringList messages;
        QString buttonAfter;
    } cases[] = {
        {[] { throw SocketError(K::BindFailed, EADDRINUSE, "bind"); }, {"LAppError1"}, "Start"},
        {[] { throw SocketError(K::AccessDenied, EACCES, "denied"); }, {"LAppError1"}, "Start"},
        {[] { throw SocketError(K::Other, EACCES, "denied"); }, {"LAppError1"}, "Starting"},
        {[] { throw SocketError(K::InvalidSocket, EBADF, "bad"); }, {"LAppError2"}, "Starting"},
        {[] { throw SocketError(K::Closed, EPIPE, "closed"); }, {}, "Starting"},
        {[] { throw std::runtime_error("other"); }, {}, "Starting"},
    };
    for (const Case& c : cases) {
        dialogs.clear();
        button->setText("Starting");
        Thrower thrower;
        thrower.action = c.raise;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::processEvents();
        EXPECT_EQ(dialogs.messages(), c.messages);
        EXPECT_EQ(button->text(), c.buttonAfter);
    }
    // What gave no message is in the log, one line each.
    const QStringList log = LogMessages();
    EXPECT_EQ(log.count("QRV: an event handler failed: closed"), 1) << log.join('\n').toStdString();
    EXPECT_EQ(log.count("QRV: an event handler failed: other"), 1);
}

// A button handler that throws, reached by a real mouse click: connected through Guarded, as
// the pages connect theirs, the exception never crosses the toolkit's frames.
TEST_F(AppLevelTest, AnExceptionFromAClickHandlerEndsInTheHandler) {
    SupplyLanguages();
    TForm1& w = Start();
    w.show();
    QPushButton* button = w.ServerTab->LangConfirmButton;  // its own handler does nothing here
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, &w, Guarded([&] {
                         ++clicks;
                         throw SocketError(SocketError::Kind::InvalidSocket, EBADF, "bad");
                     }));
    w.PageControl1->setCurrentWidget(w.ServerTab);
    for (int i = 0; i < 2; ++i) {
        const QPointF at(button->rect().center());
        QMouseEvent press(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, button->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(button, &press);
        QCoreApplication::sendEvent(button, &release);
    }
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(dialogs.messages(), QStringList({"LAppError2", "LAppError2"}));
}

TEST_F(AppLevelTest, AFailedBindLeavesTheCaptionWhenTheServerIsRunning) {
    SupplyLanguages();
    TForm1& w = Start();
    w.Context().httpServerActive = [] { return true; };
    w.ServerTab->HttpServerControlButton->setText("Stop");
    w.ApplicationEvents1Exception(
        std::make_exception_ptr(SocketError(SocketError::Kind::BindFailed, EADDRINUSE, "bind")));
    EXPECT_EQ(dialogs.messages(), QStringList({"LAppError1"}));
    EXPECT_EQ(w.ServerTab->HttpServerControlButton->text(), "Stop");
}

TEST(QtDialogsFilter, BarSeparatedFiltersBecomeQtFilters) {
    struct Case {
        QString in, out;
    } cases[] = {
        {"Cfg bin files (*.bin)|*.bin|Cfg XML files (*.xml)|*.xml|All files (*.*)|*.*",
         "Cfg bin files (*.bin);;Cfg XML files (*.xml);;All files (*)"},
        {"Cfg files (*.bin, *.xml)|*.bin;*.xml|All files (*.*)|*.*",
         "Cfg files (*.bin *.xml);;All files (*)"},
        {"Csv files (*.csv)|*.csv", "Csv files (*.csv)"},
        {"All files (*.*)", "All files (*)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtDialogs::ToQtFilter(c.in), c.out) << c.in.toStdString();
}

// The program itself: SIGTERM and SIGINT close the window as its close button does.
class ProgramTest : public ::testing::TestWithParam<int> {
  protected:
    static QString Source(const QString& relative) { return SourcePath("data/" + relative); }
    TempDir dir;
};

TEST_P(ProgramTest, QuitSignalWritesSettingsAndClosesTheLog) {
    for (const char* f : {"ini/$default.ini", "ini/lang/English"})
        dir.write(f, ReadFileBytes(Source(f)));
    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(BuiltProgram("orvo-provision-tool"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    const auto log = [&] {
        const QStringList files = QDir(dir.file("log")).entryList(QDir::Files);
        return files.isEmpty() ? QByteArray() : ReadFileBytes(dir.file("log/" + files.first()));
    };
    for (int i = 0; i < 400 && !log().contains("QRV Opened!"); ++i)
        QThread::msleep(25);
    ASSERT_TRUE(log().contains("QRV Opened!"));
    QThread::msleep(200);  // the event loop is running by now

    ::kill(static_cast<pid_t>(program.processId()), GetParam());
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QFileInfo::exists(dir.file("ini/setting.ini")));
    EXPECT_TRUE(log().endsWith(" QRV Closed!\r\n")) << log().toStdString();
    // The program keeps its paths off stderr (Qt's own platform notes may be there).
    const QByteArray err = program.readAllStandardError();
    EXPECT_FALSE(err.contains(dir.file("log").toUtf8())) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Signals, ProgramTest, ::testing::Values(SIGTERM, SIGINT));

TEST(Program, WithoutADisplaySaysSoInOneLine) {
    TempDir dir;
    QProcess program;
    program.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    program.setProcessEnvironment(env);
    program.start(BuiltProgram("orvo-provision-tool"), {});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitCode(), 1);
    const QByteArray err = program.readAllStandardError();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("no display")) << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.file("log")));
}

// --help and --version print on stdout and end at once, also without a display and among Qt's
// options; the window does not start (no log).
TEST(Program, HelpAndVersionPrintAndExit) {
    struct Case {
        QStringList args;
        QByteArray begins;
    } cases[] = {
        {{"--help"}, "usage: orvo-provision-tool"},
        {{"-h"}, "usage: orvo-provision-tool"},
        {{"-help"}, "usage: orvo-provision-tool"},
        {{"--version"}, "orvo-provision-tool " ORVO_VERSION "\n"},
        {{"-platform", "offscreen", "--version"}, "orvo-provision-tool " ORVO_VERSION "\n"},
        {{"-reverse", "--help"}, "usage: orvo-provision-tool"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        TempDir dir;
        QProcess program;
        program.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(name);
        program.setProcessEnvironment(env);
        program.start(BuiltProgram("orvo-provision-tool"), c.args);
        ASSERT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        const QByteArray out = program.readAllStandardOutput();
        EXPECT_TRUE(out.startsWith(c.begins)) << out.toStdString();
        EXPECT_EQ(program.readAllStandardError(), "");
        EXPECT_FALSE(QFileInfo::exists(dir.file("log")));
    }
}

}  // namespace
