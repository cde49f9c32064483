// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installFrenchTranslations()
{
    auto *qtFrench = new QTranslator(QCoreApplication::instance());
    if (!qtFrench->load(QLocale(QLocale::French, QLocale::France), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtFrench;
        return false;
    }
    return QCoreApplication::installTranslator(qtFrench);
}
