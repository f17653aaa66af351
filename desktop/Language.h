// The language of the program's texts. Chinese is the program's own and stays for a Chinese or C
// locale; every other language gets the English translation that the program carries as the
// resource :/i18n/lanquill_en.qm. Header-only: the help viewer, a program of its own, picks its
// language by the same rule.
#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace lanquill::desktop {

// The first language the user's messages are wanted in decides (LANGUAGE, LC_ALL, LC_MESSAGES,
// LANG, as Qt reads them); the C locale names none.
inline bool prefersEnglish(const QLocale& locale) {
    const QStringList languages = locale.uiLanguages();
    if (languages.isEmpty())
        return false;
    const QLocale first(languages.first());
    return first.language() != QLocale::Chinese && first.language() != QLocale::C;
}

// Installs the English translation into the application where the system locale asks for it;
// the translator passed in must live as long as the application. Says whether it did.
inline bool installEnglish(QTranslator& translator) {
    if (!prefersEnglish(QLocale::system()) ||
        !translator.load(QStringLiteral(":/i18n/lanquill_en.qm")))
        return false;
    QCoreApplication::installTranslator(&translator);
    return true;
}

} // namespace lanquill::desktop
