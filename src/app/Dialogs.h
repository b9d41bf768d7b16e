#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// A user-visible text: language keys and literal pieces, in order. The window renders it
// through the language table; tests look at the keys.
class UiText {
  public:
    UiText() = default;
    static UiText key(const QString& k);
    static UiText literal(const QString& s);

    UiText& add(const UiText& other);
    UiText& addKey(const QString& k) { return add(key(k)); }
    UiText& addLiteral(const QString& s) { return add(literal(s)); }

    bool isEmpty() const { return parts_.empty(); }
    // The keys in order of appearance.
    QStringList keys() const;
    // The text with every key replaced by translate(key).
    template <typename Fn>
    QString render(Fn&& translate) const {
        QString out;
        for (const auto& [isKey, text] : parts_)
            out += isKey ? translate(text) : text;
        return out;
    }
    // Keys as themselves and literals as they stand: "LCfgError2/tmp/a.bin".
    QString raw() const;

    bool operator==(const UiText& o) const { return parts_ == o.parts_; }

  private:
    std::vector<std::pair<bool, QString>> parts_;
};

// Every message box, question and file dialog of the program goes through this interface.
class Dialogs {
  public:
    // YesNoDefaultNo: Enter answers No (a question whose Yes cannot be undone).
    enum class Buttons { YesNo, OkCancel, YesNoDefaultNo };

    virtual ~Dialogs() = default;

    // A modal message box with an OK button.
    virtual void message(const UiText& text, const UiText& caption = {}) = 0;
    // A modal question; true for Yes or OK.
    virtual bool question(const UiText& text, const UiText& caption, Buttons buttons) = 0;

    // File dialogs give the chosen path(s), or empty when cancelled. Filters use the
    // "Description|pattern;pattern|Description|pattern" form.
    virtual QString openFile(const QString& filter) = 0;
    virtual QStringList openFiles(const QString& filter) = 0;
    virtual QString saveFile(const QString& filter, const QString& defaultSuffix) = 0;
    virtual QString chooseFolder(const UiText& caption) = 0;

    // Shorthands.
    void messageKey(const QString& key) { message(UiText::key(key)); }
    void messageText(const QString& text) { message(UiText::literal(text)); }
};
