#pragma once
// The remote control's settings, kept in shezhi: the port (0: off, nothing
// listens), the address to listen on (empty: every interface), and the
// certificate's and key's PEM files (both given: HTTPS; otherwise plain
// HTTP, whose passwords cross the network readable).
#include <QString>

class Settings;

struct RemoteSettings {
    static constexpr int kDefaultPort = 8420;
    static inline const QString kPortKey = QStringLiteral("远程控制端口");
    static inline const QString kAddressKey = QStringLiteral("远程控制地址");
    static inline const QString kCertificateKey = QStringLiteral("远程控制证书");
    static inline const QString kKeyKey = QStringLiteral("远程控制密钥");

    int port = 0;
    QString address;     // an IPv4 or IPv6 address; empty: all
    QString certificate; // PEM file
    QString key;         // PEM file

    bool enabled() const { return port > 0; }
    bool https() const { return !certificate.isEmpty() && !key.isEmpty(); }
    bool operator==(const RemoteSettings &) const = default;

    // What the store keeps; a value that is no port reads as off.
    static RemoteSettings load(const Settings &settings);
    // Checks (problem()) and keeps them; throws AppError with the text.
    void save(Settings &settings) const;
    // The operator's text of what is wrong, empty when fine: a port out of
    // range, an address that is none, only one of certificate and key, a
    // file that cannot be read.
    QString problem() const;

    // Said in the dialog while enabled without HTTPS, and in the log.
    static QString plainHttpWarning();
};
