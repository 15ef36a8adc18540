#include "autostart.h"

#include "seams.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringConverter>
#include <QTextStream>

Autostart::Autostart(QString folder, QString systemFolder)
    : m_folder(std::move(folder)), m_systemFolder(std::move(systemFolder))
{
}

QString Autostart::userFolder()
{
    // As desktops read it: an unset or relative XDG_CONFIG_HOME means ~/.config.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(config) ? config : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString Autostart::entryPath() const
{
    return QDir(m_folder).filePath(entryName());
}

bool Autostart::isOn() const
{
    if (const std::optional<bool> own = entryState(entryPath()))
        return *own;
    return m_systemFolder.isEmpty() ? false
                                    : entryState(QDir(m_systemFolder).filePath(entryName())).value_or(false);
}

std::optional<bool> Autostart::entryState(const QString &path)
{
    QFile f(path);
    if (!f.exists())
        return std::nullopt;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&f);
    in.setEncoding(QStringConverter::Utf8);
    bool inMainGroup = false;
    bool hidden = false;
    QString exec;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("Hidden"))
            hidden = value == QLatin1String("true"); // a desktop skips hidden entries
    }
    return f.error() == QFileDevice::NoError && !hidden && !exec.isEmpty();
}

bool Autostart::turnOn(const QString &exePath)
{
    if (exePath.isEmpty())
        return false;
    // A machine without the folder yet is still a machine we may start on.
    if (!QDir().mkpath(m_folder))
        return false;
    QSaveFile f(entryPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QByteArray bytes = entryText(exePath).toUtf8();
    if (f.write(bytes) != bytes.size())
        return false;
    return f.commit();
}

void Autostart::turnOff()
{
    QFile::remove(entryPath());
    if (!isOn())
        return;
    // The machine's entry starts it: the desktop skips it for this user when
    // the user's own entry of the same name is hidden.
    QSaveFile f(entryPath());
    if (QDir().mkpath(m_folder) && f.open(QIODevice::WriteOnly | QIODevice::Text)
        && f.write("[Desktop Entry]\nType=Application\nName=Quorlin校园铃声广播系统\nHidden=true\n") > 0)
        f.commit();
}

QString Autostart::execValue(const QString &exePath)
{
    // Quoting rules of desktop entries (freedesktop.org): an argument holding a
    // reserved character is quoted as a whole, and inside the quotes ", `, $
    // and \ take a backslash. "%" starts a field code, so it is doubled.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (QChar c : exePath)
        quote = quote || reserved.contains(c);
    QString arg;
    if (quote) {
        arg += u'"';
        for (QChar c : exePath) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                arg += u'\\';
            arg += c;
        }
        arg += u'"';
    } else {
        arg = exePath;
    }
    arg.replace(u'%', QStringLiteral("%%"));

    // The value is also a string of the entry file, with its own escapes,
    // undone before the quoting above is read.
    QString value;
    for (QChar c : arg) {
        switch (c.unicode()) {
        case '\\': value += QStringLiteral("\\\\"); break;
        case '\n': value += QStringLiteral("\\n"); break;
        case '\t': value += QStringLiteral("\\t"); break;
        case '\r': value += QStringLiteral("\\r"); break;
        default: value += c;
        }
    }
    return value;
}

QString Autostart::entryText(const QString &exePath)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Quorlin校园铃声广播系统\n"
                          "Name[zh_CN]=Quorlin校园铃声广播系统\n"
                          "Exec=%1\n"
                          "Icon=daling\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue(exePath));
}

AutostartMenu::AutostartMenu(QAction *NZiDong, Messages &messages, Autostart autostart,
                             QString exePath, QObject *parent)
    : QObject(parent), m_action(NZiDong), m_messages(messages),
      m_autostart(std::move(autostart)),
      m_exePath(exePath.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(exePath))
{
    m_action->setCheckable(true);
    // An exclusive group draws the radio-style mark; "optional" lets the
    // one item be switched off again.
    auto *group = new QActionGroup(this);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    group->addAction(m_action);
    // A click has already flipped the mark when triggered arrives.
    connect(m_action, &QAction::triggered, this, [this](bool on) { apply(on); });
}

void AutostartMenu::readMark()
{
    m_action->setChecked(m_autostart.isOn());
}

void AutostartMenu::NZiDongClick()
{
    m_action->setChecked(!m_action->isChecked());
    apply(m_action->isChecked());
}

void AutostartMenu::apply(bool on)
{
    if (on) {
        // The mark stays on after a failure until the next readMark().
        if (!m_autostart.turnOn(m_exePath))
            m_messages.typedOk(Messages::Kind::Error, writeErrorText());
    } else {
        m_autostart.turnOff();
    }
}
