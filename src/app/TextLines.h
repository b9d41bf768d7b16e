#pragma once

#include <QByteArray>
#include <vector>

// The lines of a text whose line breaks are CR LF, LF or CR; a final break adds no line.
std::vector<QByteArray> SplitTextLines(const QByteArray& text);
