#pragma once
// The roles of the remote control's accounts and the least role that may
// call each of the engine's methods over the network: the one home of that
// table. A method missing from it is never served over the network (a new
// method stays local until it is listed here); Window.Raise is one of those
// on purpose: it shows a window on the broadcasting PC.
#include <QString>
#include <QStringList>
#include <optional>

// Ordered: each role may do what the ones before it may.
enum class WebRole {
    Viewer = 1, // 查看: sees the day, the mode, the history
    Duty = 2,   // 值班: also the mode, a bell now, the emergency
    Admin = 3,  // 管理: also the accounts
};

namespace webroles {

QString text(WebRole role);
// The role a text names ("查看", "值班", "管理", surrounding blanks ignored).
std::optional<WebRole> fromText(const QString &text);
// "查看、值班、管理", for messages.
QString allTexts();

// The least role that may call the method; nullopt: never over the network.
std::optional<WebRole> leastRole(const QString &method);
bool allows(WebRole caller, const QString &method);
// Every method the table lists, in its order.
QStringList listedMethods();

} // namespace webroles
