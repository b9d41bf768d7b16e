#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// The lines of a text whose line breaks are CR LF, LF or CR; a final break adds no line.
std::vector<QByteArray> SplitTextLines(const QByteArray& text);

// The text without its CR and LF characters: a value kept on one line.
QString WithoutLineBreaks(QString text);
