#include "app/dialogs.h"

#include <algorithm>

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

namespace rv {

namespace {
const char* kCaption = "REVizevoz 2015";
}

QString anyCasePattern(const QString& extension) {
    QString pattern = "*.";
    for (const QChar c : extension) {
        if (c.isLetter())
            pattern += QString("[%1%2]").arg(c.toUpper()).arg(c.toLower());
        else
            pattern += c;
    }
    return pattern;
}

QString QtDialogs::openFile(QWidget* parent, const QString& title, const QString& folder, const QStringList& filters,
                            const QString& defaultSuffix) {
    QFileDialog dialog(parent, title, folder);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The patterns spell every case; the list shows the labels only.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.front());
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString QtDialogs::saveFile(QWidget* parent, const QString& title, const QString& folder, const QString& initialName,
                            const QStringList& filters, const QString& defaultSuffix, int& chosenFilter) {
    QFileDialog dialog(parent, title, folder);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    chosenFilter = std::max(0, int(filters.indexOf(dialog.selectedNameFilter())));
    return dialog.selectedFiles().front();
}

bool QtDialogs::confirm(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, kCaption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void QtDialogs::message(QWidget* parent, const QString& text, bool error) {
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Warning, kCaption, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtDialogs::information(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, QString(kCaption) + " - " + title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtDialogs::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

}  // namespace rv
