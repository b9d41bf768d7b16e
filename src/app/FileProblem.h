#pragma once

#include <QString>

// What keeps a file from being opened for reading, in words for a message that names the file
// ("no such file", "is a folder, not a file", "is not a regular file", "cannot be read:
// permission denied", ...); empty when it can be read.
QString FileReadProblem(const QString& path);

// The reason of a failed system call (errno) in words, lower case: "permission denied".
QString SystemErrorWords(int error);
