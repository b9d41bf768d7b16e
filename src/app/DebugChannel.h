#pragma once

#include <QByteArray>

// Lines for whoever develops the program, on stderr. On by default (the window keeps it so);
// orvo-cli, whose stderr carries errors only, turns it on only when asked (--debug).
void SetDebugChannel(bool on);
bool DebugChannelOn();
// Writes the line and a newline in one call when the channel is on; from any thread.
void DebugLine(const QByteArray& line);
