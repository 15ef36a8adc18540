#include "webroles.h"

#include <array>

namespace {

struct RoleName {
    WebRole role;
    const char16_t *text;
};
constexpr std::array kRoles{RoleName{WebRole::Viewer, u"查看"}, RoleName{WebRole::Duty, u"值班"},
                            RoleName{WebRole::Admin, u"管理"}};

struct MethodRole {
    const char16_t *method;
    WebRole least;
};
// Reading is for everyone with an account; what sounds or silences the
// bells is for the staff on duty. The accounts' own methods, when they
// come, belong to 管理.
constexpr std::array kMethods{
    MethodRole{u"Server.GetRPCVersion", WebRole::Viewer},
    MethodRole{u"Engine.GetStatus", WebRole::Viewer},
    MethodRole{u"Day.GetBells", WebRole::Viewer},
    MethodRole{u"Zones.GetHealth", WebRole::Viewer},
    MethodRole{u"Mode.Set", WebRole::Duty},
    MethodRole{u"Test.Play", WebRole::Duty},
    MethodRole{u"Test.Stop", WebRole::Duty},
    MethodRole{u"Emergency.Start", WebRole::Duty},
    MethodRole{u"Emergency.Stop", WebRole::Duty},
    MethodRole{u"Bells.Reload", WebRole::Duty},
};

} // namespace

namespace webroles {

QString text(WebRole role)
{
    for (const RoleName &r : kRoles)
        if (r.role == role)
            return QString::fromUtf16(r.text);
    return {};
}

std::optional<WebRole> fromText(const QString &text)
{
    const QString t = text.trimmed();
    for (const RoleName &r : kRoles)
        if (t == QString::fromUtf16(r.text))
            return r.role;
    return std::nullopt;
}

QString allTexts()
{
    QStringList all;
    for (const RoleName &r : kRoles)
        all << QString::fromUtf16(r.text);
    return all.join(u'、');
}

std::optional<WebRole> leastRole(const QString &method)
{
    for (const MethodRole &m : kMethods)
        if (method == QString::fromUtf16(m.method))
            return m.least;
    return std::nullopt;
}

bool allows(WebRole caller, const QString &method)
{
    const std::optional<WebRole> least = leastRole(method);
    return least && int(caller) >= int(*least);
}

QStringList listedMethods()
{
    QStringList out;
    for (const MethodRole &m : kMethods)
        out << QString::fromUtf16(m.method);
    return out;
}

} // namespace webroles
