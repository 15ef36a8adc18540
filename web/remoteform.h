#pragma once
// What the dialog 系统 → 远程控制… shows and does, without widgets: the
// settings as the store keeps them, the addresses one may listen on, the
// accounts, and the save that checks everything first: a port, and, while
// no 管理 account exists, the first one's name and password (twice). It
// works on the store; the engine is then asked to re-read it.
#include "remotesettings.h"
#include "webaccounts.h"

#include <QStringList>

class BellStore;

class RemoteForm {
public:
    explicit RemoteForm(BellStore &store);

    RemoteSettings settings() const;
    // "" (all interfaces) first, then this machine's addresses.
    static QStringList addressChoices();
    static QString addressText(const QString &address); // "" → 所有网络接口
    bool hasAdmin() const;
    QList<WebAccount> accounts() const;

    struct Input {
        RemoteSettings settings;
        QString adminName;      // only while there is no 管理 account
        QString adminPassword;
        QString adminPassword2;
    };
    // The operator's text of what stops the save, empty when it may go.
    QString problem(const Input &input) const;
    // Checks and keeps; returns the problem (nothing kept) or "" when kept.
    QString save(const Input &input);

    // The dialog's warning for these settings: the plain-HTTP one while on
    // without a certificate, empty otherwise.
    static QString warning(const RemoteSettings &settings);
    // Where the page is reached, for the dialog.
    static QString urlText(const RemoteSettings &settings);

private:
    BellStore &m_store;
    WebAccounts m_accounts;
};
