#include "columnfit.h"

#include <algorithm>

ColumnFit::Widths ColumnFit::natural(const ScheduleModel &model,
                                     const std::function<int(const QString &)> &textWidth)
{
    Widths w{};
    const int rows = model.rowCount();
    for (int c = 0; c < ScheduleModel::kColumns; ++c) {
        int widest = textWidth(model.cellText(c, 0));
        for (int r = 1; r <= rows; ++r)
            widest = std::max(widest, textWidth(model.cellText(c, r)));
        w[c] = widest + kPadding;
    }
    // A time always reads HH:MM:SS: the column is ready for the first bell.
    w[ScheduleModel::ColTime] = std::max(w[ScheduleModel::ColTime],
                                         textWidth(QStringLiteral("00:00:00")) + kPadding);
    // Every status a bell may take, so that the column does not jump when
    // a bell starts to blink.
    for (BellStatus s : {BellStatus::Done, BellStatus::Waiting, BellStatus::Playing, BellStatus::Failed,
                         BellStatus::Missed, BellStatus::Interrupted, BellStatus::Passed,
                         BellStatus::InvalidTime, BellStatus::PartlyRung})
        w[ScheduleModel::ColStatus] = std::max(w[ScheduleModel::ColStatus],
                                               textWidth(bellstatus::text(s)) + kPadding);
    return w;
}

ColumnFit::Widths ColumnFit::fit(const Widths &natural, int available)
{
    Widths w = natural;
    int room = available;
    for (int c = 0; c < ScheduleModel::kColumns; ++c)
        if (!isLong(c))
            room -= natural[c];
    const int longs[] = {ScheduleModel::ColName, ScheduleModel::ColMusic, ScheduleModel::ColRemark};
    // Fair shares: a column narrower than its share keeps its width and
    // leaves the rest to the others.
    std::array<bool, ScheduleModel::kColumns> settled{};
    int open = 3;
    bool moved = true;
    while (open > 0 && moved) {
        moved = false;
        const int share = std::max(room, 0) / open;
        for (int c : longs)
            if (!settled[c] && natural[c] <= share) {
                settled[c] = true;
                room -= natural[c];
                --open;
                moved = true;
            }
    }
    if (open > 0) {
        const int share = std::max(room, 0) / open;
        for (int c : longs)
            if (!settled[c])
                w[c] = std::max(share, std::min(natural[c], kMinLong));
    }
    // What is left over goes to 备注, so that the list fills its width.
    int used = 0;
    for (int c = 0; c < ScheduleModel::kColumns; ++c)
        used += w[c];
    if (used < available)
        w[ScheduleModel::ColRemark] += available - used;
    return w;
}
