// The questions the window asks the user (file dialogs, confirmations, messages, the browser),
// behind one interface so that tests can answer them.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace rv {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // Full path of the chosen file, or empty when cancelled. `filters` are "label (patterns)";
    // the first is selected.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& folder, const QStringList& filters,
                             const QString& defaultSuffix) = 0;
    // Full path to save to (the overwrite question already answered yes), or empty. `filters` as
    // for openFile; `chosenFilter` receives the index of the one selected at the end.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& folder, const QString& initialName,
                             const QStringList& filters, const QString& defaultSuffix, int& chosenFilter) = 0;
    // Yes (true) or No.
    virtual bool confirm(QWidget* parent, const QString& text) = 0;
    virtual void message(QWidget* parent, const QString& text, bool error) = 0;
    // A note for the user (no warning, no error) under its own title.
    virtual void information(QWidget* parent, const QString& title, const QString& text) {
        (void)title;
        message(parent, text, false);
    }
    virtual void openUrl(const QUrl& url) = 0;
};

// The real dialogs: QFileDialog, QMessageBox with the caption "REVizevoz 2015", the browser.
class QtDialogs final : public UserDialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& folder, const QStringList& filters,
                     const QString& defaultSuffix) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& folder, const QString& initialName,
                     const QStringList& filters, const QString& defaultSuffix, int& chosenFilter) override;
    bool confirm(QWidget* parent, const QString& text) override;
    void message(QWidget* parent, const QString& text, bool error) override;
    void information(QWidget* parent, const QString& title, const QString& text) override;
    void openUrl(const QUrl& url) override;
};

// "*.KZP" as a pattern that matches the extension in any case: "*.[Kk][Zz][Pp]".
QString anyCasePattern(const QString& extension);

}  // namespace rv
