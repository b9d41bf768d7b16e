#pragma once

#include <QByteArray>
#include <QtGlobal>

// The folders of the project for tests that read ORVO_SOURCE_DIR and ORVO_BINARY_DIR; the
// build gives them as defaults, the environment may override them. (ctest cannot carry more
// than one variable through gtest_discover_tests' properties.)
inline void SetTestEnvironmentDefaults() {
#ifdef ORVO_SOURCE_DIR_DEFAULT
    if (qEnvironmentVariableIsEmpty("ORVO_SOURCE_DIR"))
        qputenv("ORVO_SOURCE_DIR", QByteArray(ORVO_SOURCE_DIR_DEFAULT));
#endif
#ifdef ORVO_BINARY_DIR_DEFAULT
    if (qEnvironmentVariableIsEmpty("ORVO_BINARY_DIR"))
        qputenv("ORVO_BINARY_DIR", QByteArray(ORVO_BINARY_DIR_DEFAULT));
#endif
}
