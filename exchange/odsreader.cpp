// .ods through liborcus. orcus hands cells to an import factory; ours keeps
// the first worksheet's cells and just enough of the styles to tell a date
// or time value from a plain number (a cell's format is looked up by its
// id). Before orcus sees the archive, every part is inflated once with a
// hard bound, so that a zip bomb is refused instead of filling memory.
#include "sheetreader.h"
#include "numberformats.h"
#include "zippackage.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <orcus/format_detection.hpp>
#include <orcus/orcus_ods.hpp>
#include <orcus/spreadsheet/import_interface.hpp>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace ss = orcus::spreadsheet;

namespace {

// ---- import factory ---------------------------------------------------
struct Book;

} // namespace

namespace {

class Strings : public ss::iface::import_shared_strings {
public:
    std::vector<std::string> list;
    std::string segments;
    size_t append(std::string_view s) override
    {
        list.emplace_back(s);
        return list.size() - 1;
    }
    size_t add(std::string_view s) override { return append(s); }
    void set_segment_font(size_t) override {}
    void set_segment_bold(bool) override {}
    void set_segment_italic(bool) override {}
    void set_segment_font_name(std::string_view) override {}
    void set_segment_font_size(double) override {}
    void set_segment_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                                ss::color_elem_t) override {}
    void append_segment(std::string_view s) override { segments.append(s); }
    size_t commit_segments() override
    {
        list.push_back(std::move(segments));
        segments.clear();
        return list.size() - 1;
    }
};

// Only number formats and cell formats matter here.
class Styles : public ss::iface::import_styles {
public:
    std::map<size_t, bool> dateById;      // numFmtId (xlsx) → date/time?
    std::vector<bool> dateByIndex;        // commit order (ods) → date/time?
    std::vector<size_t> xfNumberFormat;   // cell xf → number format
    bool idsGiven = false;

    bool isDateXf(size_t xf) const
    {
        if (xf >= xfNumberFormat.size())
            return false;
        const size_t nf = xfNumberFormat[xf];
        if (idsGiven || dateByIndex.empty()) {
            auto it = dateById.find(nf);
            return it != dateById.end() ? it->second : isBuiltinDateFormat(nf);
        }
        return nf < dateByIndex.size() && dateByIndex[nf];
    }

    void set_number_format_count(size_t) override {}
    void set_number_format_identifier(size_t id) override
    {
        m_id = id;
        m_hasId = true;
    }
    void set_number_format_code(std::string_view s) override { m_code = std::string(s); }
    size_t commit_number_format() override
    {
        const bool date = isDateFormatCode(m_code);
        if (m_hasId) {
            dateById[m_id] = date;
            idsGiven = true;
        }
        dateByIndex.push_back(date);
        m_code.clear();
        m_hasId = false;
        return dateByIndex.size() - 1;
    }
    void set_xf_number_format(size_t index) override { m_xfNf = index; }
    size_t commit_cell_xf() override
    {
        xfNumberFormat.push_back(m_xfNf);
        m_xfNf = 0;
        return xfNumberFormat.size() - 1;
    }
    size_t commit_cell_style_xf() override { m_xfNf = 0; return m_styleXfs++; }
    size_t commit_dxf() override { m_xfNf = 0; return m_dxfs++; }

    void set_font_count(size_t) override {}
    void set_font_bold(bool) override {}
    void set_font_italic(bool) override {}
    void set_font_name(std::string_view) override {}
    void set_font_size(double) override {}
    void set_font_underline(ss::underline_t) override {}
    void set_font_underline_width(ss::underline_width_t) override {}
    void set_font_underline_mode(ss::underline_mode_t) override {}
    void set_font_underline_type(ss::underline_type_t) override {}
    void set_font_underline_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                                  ss::color_elem_t) override {}
    void set_font_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                        ss::color_elem_t) override {}
    void set_strikethrough_style(ss::strikethrough_style_t) override {}
    void set_strikethrough_type(ss::strikethrough_type_t) override {}
    void set_strikethrough_width(ss::strikethrough_width_t) override {}
    void set_strikethrough_text(ss::strikethrough_text_t) override {}
    size_t commit_font() override { return m_fonts++; }
    void set_fill_count(size_t) override {}
    void set_fill_pattern_type(ss::fill_pattern_t) override {}
    void set_fill_fg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                           ss::color_elem_t) override {}
    void set_fill_bg_color(ss::color_elem_t, ss::color_elem_t, ss::color_elem_t,
                           ss::color_elem_t) override {}
    size_t commit_fill() override { return m_fills++; }
    void set_border_count(size_t) override {}
    void set_border_style(ss::border_direction_t, ss::border_style_t) override {}
    void set_border_color(ss::border_direction_t, ss::color_elem_t, ss::color_elem_t,
                          ss::color_elem_t, ss::color_elem_t) override {}
    void set_border_width(ss::border_direction_t, double, orcus::length_unit_t) override {}
    size_t commit_border() override { return m_borders++; }
    void set_cell_hidden(bool) override {}
    void set_cell_locked(bool) override {}
    void set_cell_print_content(bool) override {}
    void set_cell_formula_hidden(bool) override {}
    size_t commit_cell_protection() override { return m_protections++; }
    void set_cell_xf_count(size_t) override {}
    void set_cell_style_xf_count(size_t) override {}
    void set_dxf_count(size_t) override {}
    void set_xf_font(size_t) override {}
    void set_xf_fill(size_t) override {}
    void set_xf_border(size_t) override {}
    void set_xf_protection(size_t) override {}
    void set_xf_style_xf(size_t) override {}
    void set_xf_apply_alignment(bool) override {}
    void set_xf_horizontal_alignment(ss::hor_alignment_t) override {}
    void set_xf_vertical_alignment(ss::ver_alignment_t) override {}
    void set_cell_style_count(size_t) override {}
    void set_cell_style_name(std::string_view) override {}
    void set_cell_style_xf(size_t) override {}
    void set_cell_style_builtin(size_t) override {}
    void set_cell_style_parent_name(std::string_view) override {}
    size_t commit_cell_style() override { return m_cellStyles++; }

private:
    size_t m_id = 0;
    bool m_hasId = false;
    std::string m_code;
    size_t m_xfNf = 0;
    size_t m_fonts = 0, m_fills = 0, m_borders = 0, m_protections = 0, m_styleXfs = 0,
           m_dxfs = 0, m_cellStyles = 0;
};

class Settings : public ss::iface::import_global_settings {
public:
    QDate origin{1899, 12, 30};
    void set_origin_date(int y, int m, int d) override
    {
        const QDate o(y, m, d);
        if (o.isValid())
            origin = o;
    }
    void set_default_formula_grammar(ss::formula_grammar_t g) override { m_grammar = g; }
    ss::formula_grammar_t get_default_formula_grammar() const override { return m_grammar; }
    void set_character_set(orcus::character_set_t) override {}

private:
    ss::formula_grammar_t m_grammar = ss::formula_grammar_t::unknown;
};

// The raw cells of one sheet; turned into texts once the styles are known.
struct Cell {
    enum Kind { Text, Number, Bool, Stamp } kind = Text;
    std::string text;
    double number = 0;
    size_t xf = 0;
    bool hasXf = false;
};
using Key = std::pair<int, int>; // row, column

class Sheet;

class Formula : public ss::iface::import_formula {
public:
    explicit Formula(Sheet *sheet) : m_sheet(sheet) {}
    void set_position(ss::row_t row, ss::col_t col) override { m_row = row; m_col = col; m_has = false; }
    void set_formula(ss::formula_grammar_t, std::string_view) override {}
    void set_shared_formula_index(size_t) override {}
    void set_result_string(std::string_view v) override { m_cell = {Cell::Text, std::string(v)}; m_has = true; }
    void set_result_value(double v) override
    {
        m_cell = {Cell::Number, {}, v};
        m_has = !std::isnan(v); // no cached result
    }
    void set_result_bool(bool v) override { m_cell = {Cell::Bool, {}, v ? 1.0 : 0.0}; m_has = true; }
    void set_result_empty() override { m_has = false; }
    void commit() override;

private:
    Sheet *m_sheet;
    int m_row = 0, m_col = 0;
    bool m_has = false;
    Cell m_cell;
};

class Sheet : public ss::iface::import_sheet {
public:
    Sheet(Strings &strings, bool keep) : m_strings(strings), m_keep(keep), m_formula(this) {}

    std::map<Key, Cell> cells;
    bool tooManyRows = false;

    ss::iface::import_formula *get_formula() override { return &m_formula; }
    void put(int row, int col, Cell c)
    {
        if (!m_keep || row < 0 || col < 0 || col >= SheetLimits::kMaxColumns)
            return;
        if (row >= SheetLimits::kMaxRows) {
            // orcus may parse on a thread of its own: never throw through it.
            tooManyRows = true;
            return;
        }
        Cell &slot = cells[{row, col}];
        const size_t xf = slot.xf;
        const bool hasXf = slot.hasXf;
        slot = std::move(c);
        slot.xf = xf;
        slot.hasXf = hasXf;
    }
    void set_auto(ss::row_t r, ss::col_t c, std::string_view s) override
    {
        put(r, c, {Cell::Text, std::string(s)});
    }
    void set_string(ss::row_t r, ss::col_t c, ss::string_id_t id) override
    {
        put(r, c, {Cell::Text, id < m_strings.list.size() ? m_strings.list[id] : std::string()});
    }
    void set_value(ss::row_t r, ss::col_t c, double v) override { put(r, c, {Cell::Number, {}, v}); }
    void set_bool(ss::row_t r, ss::col_t c, bool v) override { put(r, c, {Cell::Bool, {}, v ? 1.0 : 0.0}); }
    void set_date_time(ss::row_t r, ss::col_t c, int y, int mo, int d, int h, int mi, double s) override
    {
        const int sec = int(s + 0.5);
        put(r, c, {Cell::Stamp, dateTimeText(y, mo, d, h, mi, qMin(sec, 59)).toStdString()});
    }
    void set_format(ss::row_t r, ss::col_t c, size_t xf) override
    {
        if (!m_keep || r < 0 || c < 0 || c >= SheetLimits::kMaxColumns || r >= SheetLimits::kMaxRows)
            return;
        // Only cells that hold something need their format.
        auto it = cells.find({r, c});
        if (it != cells.end()) {
            it->second.xf = xf;
            it->second.hasXf = true;
        } else {
            m_pendingXf[{r, c}] = xf;
        }
    }
    void set_format(ss::row_t, ss::col_t, ss::row_t, ss::col_t, size_t) override {}
    void fill_down_cells(ss::row_t, ss::col_t, ss::row_t) override {}
    ss::range_size_t get_sheet_size() const override { return {1048576, 16384}; }

    void applyPendingFormats()
    {
        for (const auto &[k, xf] : m_pendingXf) {
            auto it = cells.find(k);
            if (it != cells.end() && !it->second.hasXf) {
                it->second.xf = xf;
                it->second.hasXf = true;
            }
        }
        m_pendingXf.clear();
    }

private:
    Strings &m_strings;
    bool m_keep;
    Formula m_formula;
    std::map<Key, size_t> m_pendingXf;
};

void Formula::commit()
{
    if (m_has)
        m_sheet->put(m_row, m_col, m_cell);
}

// A1-style addresses (the only ones cell positions and formula ranges use
// in the parts we read).
class Resolver : public ss::iface::import_reference_resolver {
public:
    ss::src_address_t resolve_address(std::string_view a) override
    {
        ss::src_address_t r{0, 0, 0};
        size_t i = a.rfind('!');
        i = i == std::string_view::npos ? 0 : i + 1;
        long col = 0, row = 0;
        for (; i < a.size() && (isalpha(uchar(a[i])) || a[i] == '$'); ++i)
            if (a[i] != '$' && col < 100000)
                col = col * 26 + (toupper(uchar(a[i])) - 'A' + 1);
        for (; i < a.size() && (isdigit(uchar(a[i])) || a[i] == '$'); ++i)
            if (a[i] != '$' && row < 100000000)
                row = row * 10 + (a[i] - '0');
        if (col == 0 || row == 0 || i != a.size())
            throw std::invalid_argument("bad cell address");
        r.row = ss::row_t(row - 1);
        r.column = ss::col_t(col - 1);
        return r;
    }
    ss::src_range_t resolve_range(std::string_view range) override
    {
        const size_t colon = range.find(':');
        if (colon == std::string_view::npos) {
            const auto a = resolve_address(range);
            return {a, a};
        }
        return {resolve_address(range.substr(0, colon)), resolve_address(range.substr(colon + 1))};
    }
};

class Factory : public ss::iface::import_factory {
public:
    Resolver resolver;
    ss::iface::import_reference_resolver *get_reference_resolver(ss::formula_ref_context_t) override
    {
        return &resolver;
    }
    Strings strings;
    Styles styles;
    Settings settings;
    Sheet first{strings, true};
    Sheet ignored{strings, false};
    int sheets = 0;

    ss::iface::import_global_settings *get_global_settings() override { return &settings; }
    ss::iface::import_shared_strings *get_shared_strings() override { return &strings; }
    ss::iface::import_styles *get_styles() override { return &styles; }
    ss::iface::import_sheet *append_sheet(ss::sheet_t index, std::string_view name) override
    {
        ++sheets;
        if (index == 0) {
            m_firstName = std::string(name);
            return &first;
        }
        return &ignored;
    }
    ss::iface::import_sheet *get_sheet(std::string_view name) override
    {
        if (sheets > 0 && name == m_firstName)
            return &first;
        return sheets > 0 ? &ignored : nullptr;
    }
    ss::iface::import_sheet *get_sheet(ss::sheet_t index) override
    {
        if (index < 0 || index >= sheets)
            return nullptr;
        return index == 0 ? &first : &ignored;
    }
    void finalize() override {}

private:
    std::string m_firstName;
};

} // namespace

SheetData readOdsSheet(const QByteArray &bytes)
{
    // The caller has checked the archive's bounds.
    const auto *blob = reinterpret_cast<const unsigned char *>(bytes.constData());
    const std::string_view stream(bytes.constData(), size_t(bytes.size()));

    Factory factory;
    try {
        if (!orcus::orcus_ods::detect(blob, size_t(bytes.size())))
            throw SheetError(SheetTexts::notASheet());
        orcus::orcus_ods filter(&factory);
        filter.read_stream(stream);
    } catch (const SheetError &) {
        throw;
    } catch (const std::bad_alloc &) {
        throw SheetError(SheetTexts::tooLarge());
    } catch (const std::exception &) {
        throw SheetError(SheetTexts::damaged());
    }
    if (factory.first.tooManyRows)
        throw SheetError(SheetTexts::tooManyRows());
    if (factory.sheets == 0)
        throw SheetError(QStringLiteral("表格文件中没有工作表"));

    Sheet &sheet = factory.first;
    sheet.applyPendingFormats();
    SheetData data;
    for (const auto &[key, cell] : sheet.cells) {
        QString text;
        switch (cell.kind) {
        case Cell::Text:
        case Cell::Stamp: text = QString::fromUtf8(cell.text.data(), qsizetype(cell.text.size())); break;
        case Cell::Bool: text = cell.number != 0 ? QStringLiteral("True") : QStringLiteral("False"); break;
        case Cell::Number:
            text = cell.hasXf && factory.styles.isDateXf(cell.xf)
                       ? dateSerialText(cell.number, factory.settings.origin)
                       : numberText(cell.number);
            break;
        }
        data.set(key.first, key.second, text);
    }
    return data;
}
