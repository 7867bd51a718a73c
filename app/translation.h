// The window's language: English, or Japanese when the locale asks for it. Japanese texts are the
// sources in the code; English comes from a translation file beside the program.
#pragma once

#include <QString>

class QCoreApplication;

namespace rv {

// Whether the locale asks for Japanese. LANGUAGE (a colon-separated list, first entry first)
// wins when set; else the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty
// decides. Any null argument counts as unset.
bool localeAsksForJapanese(const char* language, const char* lcAll, const char* lcMessages, const char* lang);

// The folder of the .qm files: translations/ beside the program (the build tree), else the
// installed share/revizevoz/translations.
QString translationsFolder();

// Installs the English translation into `app` unless the environment asks for Japanese (then the
// source texts stand, and Qt's own Japanese texts are added when present). Returns false when the
// English file was wanted but could not be loaded: the window then shows its Japanese sources.
bool installWindowTranslation(QCoreApplication& app);

}  // namespace rv
