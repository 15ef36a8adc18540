#include "emergencyask.h"

namespace emergencyask {

bool start(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin)
{
    if (e.active())
        return false;
    if (messages.noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStartQuestion) != Messages::Answer::Yes)
        return false;
    // Another way may have started it while the question was open.
    if (e.active())
        return false;
    if (const QString refused = e.start({QString(), {}, origin}); !refused.isEmpty()) {
        messages.typedOk(Messages::Kind::Error, refused);
        return false;
    }
    return true;
}

bool stop(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin)
{
    if (!e.active())
        return false;
    if (messages.noYes(Messages::Kind::Confirm, EmergencyBroadcast::kStopQuestion) != Messages::Answer::Yes)
        return false;
    return e.stop(origin);
}

void toggle(EmergencyBroadcast &e, Messages &messages, EmergencyBroadcast::Origin origin)
{
    if (e.active())
        stop(e, messages, origin);
    else
        start(e, messages, origin);
}

QString caption(const EmergencyBroadcast &e)
{
    return e.active() ? EmergencyBroadcast::kStopCaption : EmergencyBroadcast::kName;
}

} // namespace emergencyask
