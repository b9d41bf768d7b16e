#pragma once

#include <QString>

// Reads the decimal number at the start of a text: leading blanks skipped, an optional sign,
// then digits up to the first other character. Empty or non-numeric text gives 0; values
// beyond the int range are clamped.
int ReadLeadingInt(QStringView text);
int ReadLeadingInt(const char* text, qsizetype size);

// The value of a hexadecimal digit ("0"-"9", "a"-"f", "A"-"F"), -1 for any other character.
int HexDigitValue(char c);
