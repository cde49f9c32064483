// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/settings_score_store.h"

#include "services/score_file.h"

#include <QSettings>

#include <memory>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace {

// Fallbacks off: system-wide settings hold no score anybody earned here.
std::unique_ptr<QSettings> scores()
{
#if defined(Q_OS_WIN)
    // Named by its path: for an organisation without an application QSettings
    // would use Software\MyApp\OrganizationDefaults.
    auto settings = std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\MyApp"), QSettings::NativeFormat);
#else
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                QStringLiteral("MyApp"));
#endif
    settings->setFallbacksEnabled(false);
    settings->beginGroup(QStringLiteral("Startup"));
    return settings;
}

// QSettings reads a key it may not open as one with no values: a child
// would see "nothing", and the next answer would replace the real score.
bool mayRead()
{
#if defined(Q_OS_WIN)
    for (const wchar_t *path : {L"Software\\MyApp", L"Software\\MyApp\\Startup"}) {
        HKEY key = nullptr;
        const LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key);
        if (opened == ERROR_SUCCESS)
            RegCloseKey(key);
        else if (opened != ERROR_FILE_NOT_FOUND)
            return false;
    }
#endif
    return true;
}

} // namespace

ScoreRead SettingsScoreStore::read(const QString &key) const
{
    if (key.isEmpty())
        return {};
    if (!mayRead())
        return {std::nullopt, false};
    const QVariant value = scores()->value(ScoreFile::firstVersionEscaped(key));
    return {value.isValid() ? std::optional(value.toString()) : std::nullopt, true};
}

bool SettingsScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty())
        return false;
    // A fresh object per save: an object keeps its first error for ever.
    const auto settings = scores();
    settings->setValue(ScoreFile::firstVersionEscaped(key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString SettingsScoreStore::location() const
{
#if defined(Q_OS_WIN)
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\MyApp\\Startup");
#else
    return scores()->fileName();
#endif
}
