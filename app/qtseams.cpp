#include "qtseams.h"

#include <QApplication>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QStandardPaths>
#include <QLibraryInfo>
#include <QTranslator>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Message texts use a carriage return as line break; Qt wants '\n'.
QString shown(const QString &text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(u'\r', u'\n');
    return t;
}

QMessageBox::Icon iconOf(Messages::Kind k)
{
    switch (k) {
    case Messages::Kind::Error: return QMessageBox::Critical;
    case Messages::Kind::Confirm: return QMessageBox::Question;
    case Messages::Kind::Information: return QMessageBox::Information;
    case Messages::Kind::Warning: return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

QString captionOf(Messages::Kind k)
{
    switch (k) {
    case Messages::Kind::Error: return QStringLiteral("Error");
    case Messages::Kind::Confirm: return QStringLiteral("Confirm");
    case Messages::Kind::Information: return QStringLiteral("Information");
    case Messages::Kind::Warning: return QStringLiteral("Warning");
    }
    return {};
}

// A box as narrow as a short text gets its caption cut by the window
// manager ("Infor…tion"): it is made wide enough for the caption, the title
// bar's icon and buttons.
void fitCaption(QMessageBox &box)
{
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int want = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + 160;
    if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
        grid->addItem(new QSpacerItem(want, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

void okOnly(QWidget *owner, QMessageBox::Icon icon, const QString &caption, const QString &text)
{
    QMessageBox box(icon, caption, shown(text), QMessageBox::NoButton, owner);
    box.setObjectName(QStringLiteral("MessageBox"));
    fitCaption(box);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

// Dialogs open above the window that is modal now, if any.
QWidget *dialogOwner(QWidget *fallback)
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    return fallback;
}

} // namespace

QWidget *QtMessages::owner() const
{
    // Above whatever dialog is open (the editor, the ad-hoc window), so that a
    // box can never hide behind it and leave the operator stuck.
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return m_owner.data();
}

void QtMessages::plain(const QString &text)
{
    okOnly(owner(), QMessageBox::NoIcon, m_title, text);
}

void QtMessages::typedOk(Kind kind, const QString &text)
{
    okOnly(owner(), iconOf(kind), captionOf(kind), text);
}

Messages::Answer QtMessages::question(Kind kind, const QString &text, bool yesDefault)
{
    QMessageBox box(iconOf(kind), captionOf(kind), shown(text), QMessageBox::NoButton, owner());
    box.setObjectName(QStringLiteral("MessageBox"));
    fitCaption(box);
    QPushButton *yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yesDefault ? yes : no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? Answer::Yes : Answer::No;
}

void QtMessages::generalError(const QString &text)
{
    okOnly(owner(), QMessageBox::Critical, m_title, errorText(text));
}

Messages::Answer QtMessages::okCancel(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::Information, caption, shown(text), QMessageBox::NoButton, owner());
    box.setObjectName(QStringLiteral("MessageBox"));
    fitCaption(box);
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == ok ? Answer::Ok : Answer::Cancel;
}

std::optional<QString> QtFileDialogs::openFile(const QString &startPath)
{
    QFileDialog dlg(dialogOwner(m_owner), QString(), startPath.isEmpty() ? m_lastFolder : startPath);
    dlg.setObjectName(QStringLiteral("OpenDialog"));
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    if (!startPath.isEmpty())
        dlg.selectFile(startPath);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    const QString f = dlg.selectedFiles().first();
    m_lastFolder = QFileInfo(f).absolutePath();
    return f;
}

QStringList QtFileDialogs::openFiles()
{
    QFileDialog dlg(dialogOwner(m_owner), QString(), m_lastFolder);
    dlg.setObjectName(QStringLiteral("OpenDialog"));
    dlg.setFileMode(QFileDialog::ExistingFiles);
    dlg.setOption(QFileDialog::ReadOnly, false);
    if (dlg.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dlg.selectedFiles();
    if (!files.isEmpty())
        m_lastFolder = QFileInfo(files.first()).absolutePath();
    return files;
}

QString QtFileDialogs::documentsFolder()
{
    // Exports are the operator's documents, not sounds: never the music
    // folder the editor's open dialog last visited.
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !docs.isEmpty() && QFileInfo(docs).isDir() ? docs : QDir::homePath();
}

std::optional<QString> QtFileDialogs::saveFile(const QString &proposedName)
{
    if (m_lastSaveFolder.isEmpty())
        m_lastSaveFolder = documentsFolder();
    QFileDialog dlg(dialogOwner(m_owner), QString(), m_lastSaveFolder);
    dlg.setObjectName(QStringLiteral("SaveDialog"));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    dlg.selectFile(proposedName);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    const QString f = dlg.selectedFiles().first();
    m_lastSaveFolder = QFileInfo(f).absolutePath();
    return f;
}

QString applicationTitle(const QString &executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const int dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

bool installQtChinese()
{
    auto *qt = new QTranslator(qApp);
    if (!qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    QCoreApplication::installTranslator(qt);
    return true;
}
