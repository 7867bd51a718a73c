#include "app/translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdlib>
#include <string_view>

namespace rv {

namespace {

bool set(const char* value) { return value && *value; }

bool isJapanese(std::string_view locale) { return locale.substr(0, 2) == "ja"; }

}  // namespace

bool localeAsksForJapanese(const char* language, const char* lcAll, const char* lcMessages, const char* lang) {
    if (set(language)) {
        const std::string_view list(language);
        return isJapanese(list.substr(0, list.find(':')));
    }
    for (const char* value : {lcAll, lcMessages, lang})
        if (set(value))
            return isJapanese(value);
    return false;
}

QString translationsFolder() {
    const QString beside = QCoreApplication::applicationDirPath() + "/translations";
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/revizevoz/translations");
}

bool installWindowTranslation(QCoreApplication& app) {
    if (localeAsksForJapanese(std::getenv("LANGUAGE"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                              std::getenv("LANG"))) {
        // The standard buttons (Yes, No, OK) and the file dialog in Japanese too.
        auto* qt = new QTranslator(&app);
        if (qt->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt;
        return true;
    }
    auto* english = new QTranslator(&app);
    if (!english->load("revizevoz_en", translationsFolder())) {
        delete english;
        return false;
    }
    QCoreApplication::installTranslator(english);
    return true;
}

}  // namespace rv
