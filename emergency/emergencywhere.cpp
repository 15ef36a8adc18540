// Where an emergency sounds: the zones named, or every zone, 铃声输出 and
// 广播输出; one target per output, named by all who share it.
#include "emergencybroadcast.h"

std::vector<EmergencyBroadcast::Target> EmergencyBroadcast::targetsFor(const Request &request,
                                                                        QString *refusal) const
{
    // Where: the zones named (each must exist); else every zone, 铃声输出
    // and 广播输出. Names that share an output share its player: one sound.
    const QList<Zone> all = zones ? zones() : QList<Zone>{};
    std::vector<Target> targets;
    const auto add = [&targets](const QString &device, const QString &zone, const QString &output) {
        auto t = std::find_if(targets.begin(), targets.end(), [&](const Target &t) { return t.device == device; });
        if (t == targets.end()) {
            targets.push_back(Target{});
            t = targets.end() - 1;
            t->device = device;
        }
        if (!zone.isEmpty() && !t->zones.contains(zone))
            t->zones << zone;
        if (!output.isEmpty() && !t->outputs.contains(output))
            t->outputs << output;
    };
    for (const QString &name : request.zones) {
        const auto z = std::find_if(all.begin(), all.end(), [&](const Zone &z) { return z.name == name; });
        if (z == all.end()) {
            QStringList names;
            for (const Zone &known : all)
                names << known.name;
            *refusal = names.isEmpty()
                ? QStringLiteral("没有名为「%1」的分区：还没有设置任何分区。").arg(name)
                : QStringLiteral("没有名为「%1」的分区。现有分区：%2。").arg(name, names.join(QStringLiteral("、")));
            return {};
        }
        add(z->output, z->name, {});
    }
    if (request.zones.isEmpty()) {
        for (const Zone &z : all)
            add(z.output, z.name, {});
        add(bellsOutput ? bellsOutput() : QString(), {}, kBellsOutput);
        add(broadcastOutput ? broadcastOutput() : QString(), {}, kBroadcastOutput);
    }
    return targets;
}
