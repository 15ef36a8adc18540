#include "loaderrors.h"

#include "audiofilefacts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <mpv/client.h>

namespace LoadErrors {

QString checkFile(const QString &path, const QString &confinedTo)
{
    if (path.isEmpty())
        return QStringLiteral("没有指定要打开的文件。");
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("文件不存在：%1").arg(path);
    if (!info.isFile())
        return QStringLiteral("不是文件：%1").arg(path);
    if (info.size() == 0)
        return QStringLiteral("文件是空的（0 字节）：%1").arg(path);
    if (!confinedTo.isEmpty()) {
        // Followed to its end: a link in the folder may not lead out of it.
        const QString folder = QFileInfo(confinedTo).canonicalFilePath();
        const QString real = info.canonicalFilePath();
        if (folder.isEmpty() || !real.startsWith(folder + u'/'))
            return QStringLiteral("声音文件不在音乐文件夹 %1 里（或是指向别处的链接），不能播放：%2")
                .arg(QDir::toNativeSeparators(confinedTo), path);
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取文件：%1（%2）").arg(path, probe.errorString());
    probe.close();
    // Text files (an mpv EDL, a playlist) and anything else that is not
    // sound never reach libmpv: they could name other files or addresses.
    if (AudioFileFacts::sniff(path).format.isEmpty())
        return QStringLiteral("不是可以播放的音频文件（文件开头不是已知的声音格式，"
                              "也可能是播放列表或文本文件）：%1")
            .arg(path);
    return {};
}

QString dummyOutputOnly(const QString &path)
{
    return QStringLiteral("没有声音输出设备：声音服务只有一个虚拟输出（auto_null），"
                          "这台电脑上没有可用的声卡，不能播放：%1")
        .arg(path);
}

QString missingOutput(const QString &label)
{
    return QStringLiteral("声音输出「%1」不存在").arg(label);
}

QString stillOpening(const QString &path)
{
    return QStringLiteral("正在读取…（%1）").arg(path);
}

QString details(const QStringList &mpvErrorLines)
{
    QStringList lines;
    for (const QString &l : mpvErrorLines)
        if (!lines.contains(l))
            lines << l;
    if (lines.isEmpty())
        return {};
    return QStringLiteral("\n（") + lines.join(QStringLiteral("；")) + QStringLiteral("）");
}

QString outputFailed(bool systemOutput, const QString &path, const QStringList &mpvErrorLines)
{
    const QString t = systemOutput
                          ? QStringLiteral("无法打开声音输出设备（已尝试 PulseAudio/PipeWire 和 ALSA），"
                                           "不能播放：%1")
                          : QStringLiteral("无法打开空声音输出，不能播放：%1");
    return t.arg(path) + details(mpvErrorLines);
}

QString outputGone(const QString &device)
{
    return QStringLiteral("声音输出「%1」已不存在，不能播放（不会改用其他输出）。").arg(device);
}

QString endedWhileLoading(int endError, const QString &path, const QStringList &mpvErrorLines,
                          bool *isOutput)
{
    *isOutput = false;
    switch (endError) {
    case MPV_ERROR_AO_INIT_FAILED:
        *isOutput = true;
        return outputFailed(true, path, mpvErrorLines);
    case MPV_ERROR_UNKNOWN_FORMAT:
        return QStringLiteral("不是可以播放的音频文件（无法识别文件格式）：%1").arg(path);
    case MPV_ERROR_NOTHING_TO_PLAY:
        return noAudioTrack(path);
    case MPV_ERROR_LOADING_FAILED:
        return QStringLiteral("无法读取文件：%1").arg(path) + details(mpvErrorLines);
    default:
        return QStringLiteral("无法播放文件：%1（%2）")
                   .arg(path, QString::fromUtf8(mpv_error_string(endError ? endError : MPV_ERROR_GENERIC)))
            + details(mpvErrorLines);
    }
}

QString commandFailed(const QString &path, int mpvError)
{
    return QStringLiteral("无法播放文件：%1（%2）").arg(path, QString::fromUtf8(mpv_error_string(mpvError)));
}

QString notAccepted(const QString &path)
{
    return QStringLiteral("无法播放文件：%1（libmpv 未接受该文件）").arg(path);
}

QString openTimedOut(double seconds, const QString &path)
{
    return QStringLiteral("打开文件超时（超过 %1 秒）：%2").arg(seconds).arg(path);
}

QString noAudioTrack(const QString &path) { return QStringLiteral("文件中没有声音：%1").arg(path); }

QString truncated(const QString &path, const QString &why)
{
    return QStringLiteral("文件不完整（%2），可能没有复制完：%1").arg(path, why);
}

QString startFailed(int mpvError)
{
    if (mpvError == 0)
        return QStringLiteral("音频库 libmpv 无法启动。");
    return QStringLiteral("音频库 libmpv 无法启动（%1）。").arg(QString::fromUtf8(mpv_error_string(mpvError)));
}

QString noResponse(int boundMs, const QString &path, bool fileStage)
{
    if (fileStage)
        return QStringLiteral("文件读取没有响应（%1 毫秒内读不出来），不能播放：%2。"
                              "请检查文件所在的磁盘或网络共享。")
            .arg(boundMs)
            .arg(path);
    const QString head = QStringLiteral("声音输出没有响应（%1 毫秒内没有应答）").arg(boundMs);
    const QString tail = QStringLiteral("请检查声卡和声音服务。");
    if (path.isEmpty())
        return head + QStringLiteral("，播放器放弃了这次操作。") + tail;
    return head + QStringLiteral("，不能播放：%1。").arg(path) + tail;
}

} // namespace LoadErrors
