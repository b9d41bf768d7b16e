#include "app/QtTranslation.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

namespace {

QString cancel() {
    return QCoreApplication::translate("QPlatformTheme", "Cancel");
}

// A code names Qt's translation file and nothing else: other texts and codes without a file
// leave Qt's English texts.
TEST(QtTranslation, TakesTheTranslationOfACodeAndNothingElse) {
    const struct {
        QString code;
        bool used;
        QString cancel;
    } cases[] = {
        {"de", true, "Abbrechen"},     {"", false, "Cancel"},
        {"xx", false, "Cancel"},       {"../translations/qtbase_de", false, "Cancel"},
        {"de/../de", false, "Cancel"}, {"DE", false, "Cancel"},
        {" de", false, "Cancel"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code.toStdString());
        QtTranslation translation;
        EXPECT_EQ(translation.Use(c.code), c.used);
        EXPECT_EQ(translation.Code(), c.used ? c.code : QString());
        EXPECT_EQ(cancel(), c.cancel);
    }
    EXPECT_EQ(cancel(), "Cancel");  // each one removed its translation
}

TEST(QtTranslation, ASecondCodeReplacesTheFirst) {
    QtTranslation translation;
    ASSERT_TRUE(translation.Use("de"));
    EXPECT_EQ(cancel(), "Abbrechen");
    EXPECT_FALSE(translation.Use("xx"));
    EXPECT_EQ(cancel(), "Cancel");
    EXPECT_TRUE(translation.Use("de"));
    EXPECT_TRUE(translation.Use("en"));
    EXPECT_EQ(translation.Code(), "en");
    EXPECT_EQ(cancel(), "Cancel");
}

}  // namespace
