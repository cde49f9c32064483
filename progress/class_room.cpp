// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress/class_room.h"

#include "progress/answer_tables.h"
#include "progress/notice_line.h"
#include "progress/off_the_window.h"
#include "services/worker_thread.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

// A code serves one lesson.
constexpr auto kLesson = 2h;

const QString kAtLogin = QStringLiteral("--demarrer-classe");

#ifdef Q_OS_WIN
// The account's own list of what Windows starts at login.
const QString kRunKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kRunName = QStringLiteral("Classe d'Additions");

QString loginEntry()
{
    return kRunKey + u'\\' + kRunName;
}

bool startsAtLogin()
{
    return QSettings(kRunKey, QSettings::NativeFormat).contains(kRunName);
}

bool startAtLogin(bool atLogin)
{
    QSettings run(kRunKey, QSettings::NativeFormat);
    if (atLogin)
        run.setValue(
            kRunName,
            QStringLiteral("\"%1\" %2")
                .arg(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()), kAtLogin));
    else
        run.remove(kRunName);
    run.sync();
    return run.status() == QSettings::NoError && run.contains(kRunName) == atLogin;
}
#else
// The desktop's own list of what starts at login.
QString loginEntry()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/fr.atelier_additions.Additions.Classe.desktop");
}

bool startsAtLogin()
{
    return QFile::exists(loginEntry());
}

bool startAtLogin(bool atLogin)
{
    if (!atLogin)
        return QFile::remove(loginEntry()) || !QFile::exists(loginEntry());
    QDir().mkpath(QFileInfo(loginEntry()).absolutePath());
    QSaveFile entry(loginEntry());
    return entry.open(QIODevice::WriteOnly) &&
           entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Classe "
                                      "d'Additions\nExec=\"%1\" %2\n"
                                      "NoDisplay=true\nX-GNOME-Autostart-enabled=true\n")
                           .arg(QCoreApplication::applicationFilePath(), kAtLogin)
                           .toUtf8()) > 0 &&
           entry.commit();
}
#endif

QString dayAndTime(const QDateTime &when)
{
    return when.isValid() ? shownTime(when) : QStringLiteral("—");
}

} // namespace

ClassRoom::ClassRoom(QWidget *parent)
    : QWidget(parent), m_host(std::make_shared<ClassHost>()),
      m_thread(std::make_unique<WorkerThread>(new QObject)), m_problem(new NoticeLine),
      m_joining(new QLabel), m_wrong(new QLabel),
      m_computers(
          readOnlyTable(QStringLiteral("ordinateurs de la salle"),
                        {QStringLiteral("Ordinateur"), QStringLiteral("Dernière réponse")})),
      m_stop(new QPushButton(QStringLiteral("Arrêter la classe"))),
      m_atLogin(new QCheckBox(QStringLiteral("Démarrer la classe à l'ouverture de session")))
{
    m_joining->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_joining->setWordWrap(true);
    auto *newCode = new QPushButton(QStringLiteral("Nouveau code"));
    auto *noCode = new QPushButton(QStringLiteral("Fermer l'accès"));
    auto *remove = new QPushButton(QStringLiteral("Retirer cet ordinateur"));
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {newCode, noCode, remove, m_stop})
        buttons->addWidget(button);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_problem);
    layout->addWidget(m_joining);
    layout->addWidget(m_wrong);
    layout->addLayout(buttons);
    layout->addWidget(m_computers, 1);
    layout->addWidget(m_atLogin);
    m_atLogin->setChecked(startsAtLogin());
    connect(m_atLogin, &QCheckBox::toggled, this, [this](bool atLogin) {
        if (!startAtLogin(atLogin))
            warn(this, {QStringLiteral("Le démarrage de la classe à l'ouverture de session n'a "
                                       "pas pu être réglé (%1).")
                            .arg(loginEntry()),
                        {}});
    });
    connect(newCode, &QPushButton::clicked, this, [this] {
        change([](ClassHost &host) { return !host.openJoining(kLesson).isEmpty(); });
    });
    connect(noCode, &QPushButton::clicked, this,
            [this] { change([](ClassHost &host) { return host.closeJoining(); }); });
    connect(remove, &QPushButton::clicked, this, [this] {
        const int row = m_computers->currentRow();
        if (row < 0 || row >= m_shown.computers.size())
            return;
        const QString role = m_shown.computers[row].role;
        if (confirmErasure(this, QStringLiteral("Retirer %1 de la classe ? Il ne pourra plus "
                                                "envoyer de réponses ; les siennes restent.")
                                     .arg(role)))
            change([role](ClassHost &host) { return host.remove(role); });
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        change([running = m_shown.running](ClassHost &host) {
            return running ? host.stop() : host.start();
        });
    });
    // The class serves while its teacher's window is open; its computers
    // and wrong codes are read again every few seconds.
    change([](ClassHost &host) { return host.start(); });
    auto *again = new QTimer(this);
    connect(again, &QTimer::timeout, this, [this] { change({}); });
    again->start(5s);
}

ClassRoom::~ClassRoom()
{
    m_thread->stop(1s);
}

void ClassRoom::change(std::function<bool(ClassHost &)> change)
{
    // The address is looked for again with each step the teacher takes, not
    // at every reading: a name is asked of the network.
    m_thread->post([host = m_host, change = std::move(change), room = QPointer(this),
                    address = m_shown.address] {
        State state;
        if (change && !change(*host))
            state.problem = host->problem();
        state.address = change || address.isEmpty() ? host->address() : address;
        std::tie(state.code, state.until) = host->joining();
        state.wrongCodes = host->wrongCodes();
        state.running = host->running();
        // An empty room is never shown for a running server that did not
        // answer.
        if (state.running && !host->keepJoiningAsSet() && state.problem.isEmpty())
            state.problem = host->problem();
        state.computers = host->computers();
        QMetaObject::invokeMethod(
            room, [room, state] { room->show(state); }, Qt::QueuedConnection);
    });
}

void ClassRoom::show(const State &state)
{
    m_shown = state;
    m_problem->say({state.problem, {}});
    m_joining->setText(
        state.code.isEmpty()
            ? QStringLiteral("Aucun code n'est ouvert : « Nouveau code » en donne un, pour que "
                             "les ordinateurs de la salle rejoignent la classe.")
            : QStringLiteral("Sur chaque ordinateur de la salle, dans Additions Progrès, « "
                             "Rejoindre une classe… » : adresse <b>%1</b>, code <b "
                             "style=\"font-size:x-large\">%2</b> (jusqu'à %3).")
                  .arg(state.address.toHtmlEscaped(), state.code,
                       state.until.toLocalTime().toString(u"HH:mm")));
    m_wrong->setText(
        QStringLiteral("Codes faux essayés depuis le dernier code : %1").arg(state.wrongCodes));
    m_stop->setText(state.running ? QStringLiteral("Arrêter la classe")
                                  : QStringLiteral("Démarrer la classe"));
    m_computers->setRowCount(int(state.computers.size()));
    for (int row = 0; row < state.computers.size(); ++row) {
        m_computers->setItem(row, 0, new QTableWidgetItem(state.computers[row].role));
        m_computers->setItem(row, 1,
                             new QTableWidgetItem(dayAndTime(state.computers[row].lastAnswer)));
    }
}

void ClassRoom::open(QWidget *parent, const std::function<void()> &opened)
{
    bool given = false;
    const QString name =
        QInputDialog::getText(parent, QStringLiteral("Ouvrir une classe sur cet ordinateur"),
                              QStringLiteral("Nom de la classe (par exemple « CM1 B ») :"),
                              QLineEdit::Normal, {}, &given)
            .trimmed();
    if (!given || name.isEmpty())
        return;
    ClassHost host;
    if (!offTheWindow(parent,
                      [&] { return host.create(name) && !host.openJoining(kLesson).isEmpty(); }))
        warn(parent, {host.problem(), {}});
    else
        opened();
}
