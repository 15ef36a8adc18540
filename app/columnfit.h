#pragma once
// How the day's list shares its width: the short columns (序, 时间, 周期,
// 时长, 状态) are as wide as their widest text; 名称 and 音乐 keep theirs
// while there is room and otherwise share it fairly; 备注 (the zones and the
// remark) takes what is left and is elided. So 状态 is always in view while
// the window leaves the list room for the short columns and a little of
// each long one.
#include "schedulemodel.h"

#include <array>
#include <functional>

class ColumnFit {
public:
    using Widths = std::array<int, ScheduleModel::kColumns>;
    // A long column is never made narrower than this (nor than its text).
    static constexpr int kMinLong = 48;
    // Room around a cell's text, both sides together.
    static constexpr int kPadding = 16;

    // Each column's natural width: its widest text (the header, every row,
    // and for 状态 every status text) plus kPadding; textWidth measures.
    static Widths natural(const ScheduleModel &model, const std::function<int(const QString &)> &textWidth);
    // The widths for `available` pixels of list.
    static Widths fit(const Widths &natural, int available);
    static bool isLong(int column)
    {
        return column == ScheduleModel::ColName || column == ScheduleModel::ColMusic
               || column == ScheduleModel::ColRemark;
    }
};
