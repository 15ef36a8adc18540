// The music chooser of the editor: only files of the music folder are taken,
// and a chosen file's length is read from its header or measured by the player.
#include "../audio/audiotestutil.h"
#include "editorfixture.h"

#include "mpvplayer.h"

#include <QDir>

namespace {

// A WAV header announcing `ms` milliseconds at 1000 bytes a second (the
// samples themselves are not needed to tell the length).
QByteArray wavHeader(quint32 ms)
{
    QByteArray b;
    auto le32 = [&](quint32 v) { for (int i = 0; i < 4; ++i) b.append(char(v >> (8 * i))); };
    auto le16 = [&](quint16 v) { b.append(char(v)); b.append(char(v >> 8)); };
    b.append("RIFF");
    le32(36 + ms);
    b.append("WAVEfmt ");
    le32(16);
    le16(1);
    le16(1);
    le32(1000);
    le32(1000);
    le16(1);
    le16(8);
    b.append("data");
    le32(ms);
    return b;
}

} // namespace

class EditorChooserTest : public QObject {
    Q_OBJECT
    using F = EditorFixture;

private slots:
    void chooserAcceptsOnlyTheMusicFolder()
    {
        F f;
        f.dlg.beginInsert();
        QVERIFY(f.show(f.dlg.EditHour));
        for (QLineEdit *e : {f.dlg.EditHour, f.dlg.EditMin, f.dlg.EditSec})
            e->setText(QStringLiteral("08"));
        f.dlg.EditYinYue->setText(QStringLiteral("old.mp3"));
        f.dlg.EditTimeLong->setText(QStringLiteral("7"));
        // 185.6 s by its header; measured without any sound output.
        const QString good = f.home.touchMusic(QStringLiteral("上课.mp3"), wavHeader(185600));
        f.editorPlayer.outputDown = true;
        QDir(f.home.music()).mkpath(QStringLiteral("sub"));
        const QString sub = f.home.touchMusic(QStringLiteral("sub/b.mp3"));
        const QString outside = f.home.path() + QStringLiteral("c.mp3");
        const QString upper = f.home.path() + QStringLiteral("音乐/../音乐/d.mp3");

        auto choose = [&](std::optional<QString> answer) {
            f.dialogs.openAnswers.push_back(std::move(answer));
            F::click(f.dlg.SpeedButton8);
        };
        choose(std::nullopt); // cancelled: nothing changes
        QCOMPARE(f.dlg.EditYinYue->text(), QStringLiteral("old.mp3"));
        QVERIFY(f.messages.shown.isEmpty());

        const QString hint = QStringLiteral("为了方便管理，请先把 \r\r%1\r\r复制到：\r\r%2");
        for (const QString &path : {outside, sub, upper}) {
            choose(path);
            QCOMPARE(f.dlg.EditYinYue->text(), QString());
            QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("7"));
            QCOMPARE(f.messages.shown.last().kind, QStringLiteral("plain"));
            QCOMPARE(f.messages.shown.last().text, hint.arg(path, f.home.music()));
        }
        QVERIFY(f.editorPlayer.log.isEmpty());
        F::click(f.dlg.Button1);
        QCOMPARE(f.messages.texts().last(), QStringLiteral("必须选择音乐文件"));

        f.messages.shown.clear();
        choose(good);
        QCOMPARE(f.dlg.EditYinYue->text(), QStringLiteral("上课.mp3"));
        QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("185"));
        QVERIFY(f.messages.shown.isEmpty());
        QCOMPARE(f.editorPlayer.mode(), AudioPlayer::Mode::NotReady);
        QVERIFY(f.editorPlayer.log.isEmpty());

        // A file the player cannot open.
        const QString broken = f.home.touchMusic(QStringLiteral("broken.mp3"), QByteArray());
        choose(broken);
        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("系统不支持该音乐文件！")});
        QCOMPARE(f.messages.shown.last().kind, QStringLiteral("plain"));
        QCOMPARE(f.dlg.EditYinYue->text(), QString());
        QCOMPARE(f.dlg.EditTimeLong->text(), QStringLiteral("185"));

        // Each use starts from the file chosen last; a cancel keeps it.
        choose(std::nullopt);
        QCOMPARE(f.dialogs.openStartPaths,
                 (QStringList{QString(), QString(), outside, sub, upper, good, broken}));
        QCOMPARE(f.dlg.lastChosenPath(), broken);
    }

    void chooserMeasuresWithTheRealPlayer()
    {
        F f;
        MpvPlayer player(MpvPlayer::Output::Null);
        TFormEditDaLing dlg{f.store, f.board, player, f.messages, f.dialogs};
        const QString tone = makeTone(f.home.music() + QStringLiteral("tone.wav"), 2.5);
        if (tone.isEmpty())
            QSKIP("ffmpeg is missing");
        try {
            player.setFileName(tone);
            openWaiting(player);
            player.close();
        } catch (const AudioError &e) {
            QSKIP(qPrintable(QStringLiteral("the player cannot open a good file yet: ") + e.text()));
        }
        // An m4a's header gives no length: the player measures it, in the
        // background where the machine is slow ("正在读取…" meanwhile).
        const QString m4a = makeTone(f.home.music() + QStringLiteral("tone.m4a"), 3.5);
        f.dialogs.openAnswers = {m4a, tone, f.home.touchMusic(QStringLiteral("text.mp3"), "not audio\n")};
        dlg.SpeedButton8Click();
        QCOMPARE(dlg.EditYinYue->text(), QStringLiteral("tone.m4a"));
        QVERIFY(dlg.EditTimeLong->text() == QStringLiteral("3") || dlg.EditTimeLong->text() == EntryEditor::kReading);
        QVERIFY(QTest::qWaitFor([&] { return dlg.EditTimeLong->text() == QStringLiteral("3"); }, 20000));
        QVERIFY(f.messages.shown.isEmpty());
        dlg.SpeedButton8Click();
        QCOMPARE(dlg.EditYinYue->text(), QStringLiteral("tone.wav"));
        QCOMPARE(dlg.EditTimeLong->text(), QStringLiteral("2"));
        dlg.SpeedButton8Click();
        QCOMPARE(f.messages.texts(), QStringList{QStringLiteral("系统不支持该音乐文件！")});
        QCOMPARE(dlg.EditYinYue->text(), QString());
        QCOMPARE(dlg.EditTimeLong->text(), QStringLiteral("2"));
        QCOMPARE(player.mode(), AudioPlayer::Mode::NotReady);
    }
};

QTEST_MAIN(EditorChooserTest)
#include "tst_editor_chooser.moc"
