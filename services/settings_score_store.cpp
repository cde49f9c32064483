// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/settings_score_store.h"

#include "services/score_key.h"

#include <QSettings>

#include <memory>

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

} // namespace

ScoreRead SettingsScoreStore::read(const QString &key) const
{
    if (key.isEmpty())
        return {};
    const QVariant value = scores()->value(score_key::encode(key));
    return {value.isValid() ? std::optional(value.toString()) : std::nullopt, true};
}

bool SettingsScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty())
        return false;
    // A fresh object per save: an object keeps its first error for ever.
    const auto settings = scores();
    settings->setValue(score_key::encode(key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString SettingsScoreStore::location() const
{
    return scores()->fileName();
}
