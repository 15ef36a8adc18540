#include "remotesettings.h"

#include "apperror.h"
#include "settings.h"

#include <QFileInfo>
#include <QHostAddress>

RemoteSettings RemoteSettings::load(const Settings &settings)
{
    RemoteSettings s;
    bool ok = false;
    const int port = settings.value(kPortKey).trimmed().toInt(&ok);
    s.port = ok && port > 0 && port <= 65535 ? port : 0;
    s.address = settings.value(kAddressKey).trimmed();
    s.certificate = settings.value(kCertificateKey).trimmed();
    s.key = settings.value(kKeyKey).trimmed();
    return s;
}

QString RemoteSettings::problem() const
{
    if (port < 0 || port > 65535)
        return QStringLiteral("端口应在 1 到 65535 之间（0 表示关闭远程控制）。");
    if (!address.isEmpty() && QHostAddress(address).isNull())
        return QStringLiteral("“%1”不是有效的网络地址。").arg(address);
    if (certificate.isEmpty() != key.isEmpty())
        return QStringLiteral("使用 HTTPS 需要同时给出证书文件和密钥文件。");
    for (const QString &file : {certificate, key})
        if (!file.isEmpty() && !QFileInfo(file).isReadable())
            return QStringLiteral("无法读取文件 %1。").arg(file);
    return {};
}

void RemoteSettings::save(Settings &settings) const
{
    if (const QString why = problem(); !why.isEmpty())
        throw AppError(why);
    settings.setValue(kPortKey, QString::number(port));
    settings.setValue(kAddressKey, address);
    settings.setValue(kCertificateKey, certificate);
    settings.setValue(kKeyKey, key);
}

QString RemoteSettings::plainHttpWarning()
{
    return QStringLiteral("没有证书和密钥，远程控制使用普通 HTTP：登录口令会以明文在网络上传送，"
                          "同一网络中的人可能看到。请只在可信的校园网内使用，或配置 HTTPS 证书。");
}
