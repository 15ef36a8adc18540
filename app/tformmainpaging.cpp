// The main window's strip for the live announcement, on the engine's
// channel; the ad-hoc broadcast of this window pauses while it is heard in
// the broadcast's zones and continues after.
#include "tformmain.h"

#include "broadcastzones.h"
#include "formlinshiguangbo.h"
#include "enginelink.h"
#include "pagingpanel.h"

#include <QVBoxLayout>

void TFormMain::mountPaging(QVBoxLayout *column)
{
    auto *panel = new PagingPanel(new RpcPagingLink(app().link().socketPath()), column->parentWidget());
    PagingControl &c = panel->control();
    c.broadcastZones = [this] {
        const BroadcastZones *z = FormLinShiGuangBo ? FormLinShiGuangBo->zoneChoice() : nullptr;
        return z ? z->chosen() : QList<qint64>{};
    };
    c.pauseBroadcast = [this] { return FormLinShiGuangBo && FormLinShiGuangBo->adhocPlayer().pauseIfPlaying(); };
    c.resumeBroadcast = [this] {
        if (FormLinShiGuangBo)
            FormLinShiGuangBo->adhocPlayer().continueIfPaused();
    };
    column->addWidget(panel);
}
