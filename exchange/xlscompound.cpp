// The workbook stream taken out of an .xls's compound file by libgsf.
#include "biffrecords.h"
#include "sheetreader.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>

#include <mutex>

namespace Biff {

namespace {
QString damaged() { return SheetTexts::damaged(); }
}

// The workbook stream of the compound file ("Workbook" for BIFF8, "Book"
// for BIFF5).
QByteArray workbookStream(const QByteArray &file)
{
    static std::once_flag once;
    std::call_once(once, [] {
        gsf_init();
        // A damaged file is reported to the operator; libgsf's own warnings
        // about it would only fill the terminal.
        g_log_set_handler("libgsf:msole", GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                          [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    });
    GsfInput *mem = gsf_input_memory_new(reinterpret_cast<const guint8 *>(file.constData()),
                                         gsf_off_t(file.size()), FALSE);
    if (!mem)
        throw SheetError(damaged());
    GError *err = nullptr;
    GsfInfile *ole = gsf_infile_msole_new(mem, &err);
    g_object_unref(mem);
    if (!ole) {
        if (err)
            g_error_free(err);
        throw SheetError(damaged());
    }
    // Stream names are compared without regard to case, as Excel,
    // LibreOffice and xlrd do: some writers store "WORKBOOK" or "BOOK".
    auto child = [ole](const char *name) -> GsfInput * {
        const int n = gsf_infile_num_children(ole);
        for (int i = 0; i < n; ++i) {
            const char *got = gsf_infile_name_by_index(ole, i);
            if (got && g_ascii_strcasecmp(got, name) == 0)
                return gsf_infile_child_by_index(ole, i);
        }
        return nullptr;
    };
    GsfInput *book = child("Workbook");
    if (!book)
        book = child("Book");
    if (!book) {
        // An encrypted .xlsx is a compound file holding the encrypted package.
        GsfInput *enc = child("EncryptedPackage");
        g_object_unref(ole);
        if (enc) {
            g_object_unref(enc);
            throw SheetError(SheetTexts::encrypted());
        }
        throw SheetError(SheetTexts::noWorksheet());
    }
    const gsf_off_t size = gsf_input_size(book);
    QByteArray bytes;
    bool ok = size >= 0 && size <= SheetLimits::kMaxUnpackedBytes;
    if (ok) {
        bytes.resize(qsizetype(size));
        ok = size == 0
             || gsf_input_read(book, size_t(size), reinterpret_cast<guint8 *>(bytes.data())) != nullptr;
    }
    g_object_unref(book);
    g_object_unref(ole);
    if (!ok)
        throw SheetError(size > SheetLimits::kMaxUnpackedBytes ? SheetTexts::tooLarge() : damaged());
    return bytes;
}

} // namespace Biff
