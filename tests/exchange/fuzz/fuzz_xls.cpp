// A malformed file must end in SheetError, never in a crash or a hang.
#include "sheetreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const SheetData sheet = XlsReader().read(bytes);
        (void)sheet.cell(1, 1);
    } catch (const SheetError &) {
    }
    return 0;
}
