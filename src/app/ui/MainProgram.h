#pragma once

#include <QByteArray>
#include <functional>
#include <optional>

class TForm1;

// --help (-h) and --version among the program's arguments: the text they print on stdout, or
// nothing when neither was given. Qt's own options (-platform offscreen, ...) pass unread.
std::optional<QByteArray> InformationRequested(int argc, char** argv);

// Whether a window can be shown: a display to connect to, or a platform chosen with
// QT_QPA_PLATFORM.
bool DisplayAvailable();

// The program: the application object, the main window and the quit signals (SIGTERM and
// SIGINT close the window as its close button does). afterShow, when set, runs once the window
// is shown. Returns the exit code.
int RunOrvoProvisionTool(int argc, char** argv, const std::function<void(TForm1&)>& afterShow = {});
