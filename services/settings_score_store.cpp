// Additions - a game for practising addition. GPL-3.0-or-later.
#include "services/settings_score_store.h"

#include "services/score_key.h"

#include <QSettings>
#include <QStringList>

namespace {

const QString kOrganisation = QStringLiteral("MyApp");
const QString kGroup = QStringLiteral("Startup");

// A fresh QSettings object for every read and save: an object keeps its first
// error forever, so only a new one tells whether this save reached the disk.
// Fallbacks are off, or a system-wide MyApp.conf would supply scores nobody
// earned here.
class StartupGroup
{
public:
    StartupGroup() : m_settings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation)
    {
        m_settings.setFallbacksEnabled(false);
        m_settings.beginGroup(kGroup);
    }
    QSettings &settings() { return m_settings; }

private:
    QSettings m_settings;
};

} // namespace

QString SettingsScoreStore::read(const QString &key) const
{
    if (key.isEmpty())
        return missingScore();
    StartupGroup group;
    const QVariant value = group.settings().value(score_key::encode(key));
    if (!value.isValid())
        return missingScore();
    // A hand-edited line such as "a, b" reads back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool SettingsScoreStore::save(const QString &key, const QString &value)
{
    if (key.isEmpty())
        return false;
    StartupGroup group;
    group.settings().setValue(score_key::encode(key), value);
    group.settings().sync();
    // A damaged file reports FormatError yet is rewritten; only AccessError
    // means the value did not reach the disk.
    return group.settings().status() != QSettings::AccessError;
}
