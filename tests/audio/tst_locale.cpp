// The player under the locales a school's desktop runs with. Qt applies the
// environment's locale to the process, and libmpv refuses to start under any
// LC_NUMERIC but "C"; the player must cope whether or not main() reset it.
//
// zh_CN.UTF-8 is seldom generated on a build machine: the test compiles it
// (and de_DE.UTF-8, whose decimal separator is a comma) into a private
// folder with localedef and points LOCPATH there.
#include "audiotestutil.h"
#include "fakes.h"
#include "mpvplayer.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <cstdlib>

using Mode = AudioPlayer::Mode;

class LocaleTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tone;

    // Compiles the locales that the system lacks into a private folder,
    // before anything asks for them (glibc remembers a failed lookup).
    void prepareLocales()
    {
        const QByteArray known = runOutput("locale", {"-a"}).toLower();
        const QString dir = m_dir.filePath("locales");
        bool compiled = false;
        for (const auto &[name, source] : {std::pair{"zh_CN.UTF-8", "zh_CN"}, std::pair{"de_DE.UTF-8", "de_DE"}}) {
            const QByteArray normalized = QByteArray(source).toLower() + ".utf8";
            if (known.split('\n').contains(normalized))
                continue;
            QDir().mkpath(dir);
            QProcess p;
            p.start("localedef", {"-i", source, "-f", "UTF-8", dir + "/" + name});
            compiled |= p.waitForFinished(90000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        }
        if (compiled)
            qputenv("LOCPATH", QFile::encodeName(dir));
    }

    static bool useLocale(const char *name) { return std::setlocale(LC_ALL, name) != nullptr; }

    // Plays, seeks and reads under whatever locale is set now.
    void exercisePlayer()
    {
        const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
        QVERIFY2(before != "C", before.constData());
        MpvPlayer p(MpvPlayer::Output::Null);
        p.setFileName(m_tone);
        openWaiting(p);
        QVERIFY2(qAbs(p.length() - 2000) <= 5, qPrintable(QString::number(p.length())));
        p.seek(1500); // 1.5 s must not be read as 1 s under a decimal comma
        QCOMPARE(p.position(), qint64(1500));
        p.setStartPosition(250);
        p.play();
        QCOMPARE(p.mode(), Mode::Playing);
        QVERIFY2(p.position() >= 250 && p.position() < 300, qPrintable(QString::number(p.position())));
        QVERIFY(pollUntil([&] { return p.position() >= 400; }, 3000));
        p.stop();
        // The player left the process's numbers in the "C" form mpv needs.
        QCOMPARE(QByteArray(std::setlocale(LC_NUMERIC, nullptr)), QByteArray("C"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tone = makeTone(m_dir.filePath("tone.wav"), 2.0);
        QVERIFY(!m_tone.isEmpty());
        prepareLocales();
    }

    void chineseLocale()
    {
        if (!useLocale("zh_CN.UTF-8"))
            QSKIP("zh_CN.UTF-8 is not available and could not be compiled");
        exercisePlayer();
    }

    void decimalCommaLocale()
    {
        if (!useLocale("de_DE.UTF-8"))
            QSKIP("de_DE.UTF-8 is not available and could not be compiled");
        QCOMPARE(QByteArray(localeconv()->decimal_point), QByteArray(","));
        exercisePlayer();
    }

    // C.UTF-8 exists on every Debian system and is not "C" either.
    void cUtf8Numeric()
    {
        std::setlocale(LC_ALL, "C");
        if (!std::setlocale(LC_NUMERIC, "C.UTF-8"))
            QSKIP("C.UTF-8 is not available");
        exercisePlayer();
    }

    // Three players made under a Chinese locale that was set again after
    // each (as a window might do), all playing at once.
    void playersMadeOneAfterAnother()
    {
        if (!useLocale("zh_CN.UTF-8") && !std::setlocale(LC_NUMERIC, "C.UTF-8"))
            QSKIP("no non-C locale available");
        std::vector<std::unique_ptr<MpvPlayer>> players;
        for (int i = 0; i < 3; ++i) {
            std::setlocale(LC_NUMERIC, std::setlocale(LC_CTYPE, nullptr));
            players.push_back(std::make_unique<MpvPlayer>(MpvPlayer::Output::Null));
            players.back()->setFileName(m_tone);
            openWaiting(*players.back());
        }
        for (auto &p : players)
            p->play();
        for (auto &p : players)
            QCOMPARE(p->mode(), Mode::Playing);
    }
};

QTEST_GUILESS_MAIN(LocaleTest)
#include "tst_locale.moc"
