// .xls (BIFF5/BIFF8 in a compound file) through libfreexl, which reads from
// a path only; bytes are put into a temporary file first.
#include "sheetreader.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <fcntl.h>
#include <freexl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct XlsHandle {
    const void *h = nullptr;
    ~XlsHandle()
    {
        if (h)
            freexl_close(h);
    }
};

// freexl writes dates as "YYYY-MM-DD", date-times as "YYYY-MM-DD HH:MM:SS".
QString dateText(const char *text, bool withTime)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const QByteArray t(text);
    const int n = withTime ? sscanf(t.constData(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s)
                           : sscanf(t.constData(), "%d-%d-%d", &y, &mo, &d);
    if (n != (withTime ? 6 : 3))
        return QString::fromUtf8(t);
    return dateTimeText(y, mo, d, h, mi, s);
}

} // namespace

namespace {

// Writes the whole buffer; false when the reader has gone.
bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Caps what the child may allocate on top of what it inherited, so that a
// crafted file cannot push the machine into swapping while bells are due.
// (Not under AddressSanitizer, whose shadow memory counts as data.)
void capChildMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    return;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return;
#endif
#endif
    long long dataKb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmData: %lld kB", &dataKb) == 1)
                break;
        std::fclose(f);
    }
    const rlim_t limit = rlim_t(dataKb) * 1024 + (rlim_t(768) << 20);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_DATA, &r);
}

} // namespace

SheetData XlsReader::read(const QByteArray &bytes) const
{
    QTemporaryFile tmp;
    if (!tmp.open() || tmp.write(bytes) != bytes.size() || !tmp.flush())
        throw SheetError(QStringLiteral("无法写入临时文件：%1").arg(tmp.errorString()));
    return readFile(tmp.fileName());
}

SheetData XlsReader::readHere(const QByteArray &bytes) const
{
    QTemporaryFile tmp;
    if (!tmp.open() || tmp.write(bytes) != bytes.size() || !tmp.flush())
        throw SheetError(QStringLiteral("无法写入临时文件：%1").arg(tmp.errorString()));
    return readFileHere(tmp.fileName());
}

SheetData XlsReader::readFile(const QString &path) const
{
    // A sheet that takes longer than this is not one a school keeps.
    constexpr int kTimeoutMs = 20000;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return readFileHere(path);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return readFileHere(path);
    }
    if (pid == 0) {
        // The child: read, hand the cells (or the error) over, and leave
        // without running anything of the parent's at exit.
        ::close(fds[0]);
        capChildMemory();
        QByteArray out;
        {
            QDataStream ds(&out, QIODevice::WriteOnly);
            try {
                const SheetData data = readFileHere(path);
                ds << quint8(0) << data.rows;
            } catch (const SheetError &e) {
                ds << quint8(1) << e.text();
            } catch (...) {
                ds << quint8(1) << SheetTexts::damaged();
            }
        }
        ::_exit(writeAll(fds[1], out) ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray in;
    QElapsedTimer clock;
    clock.start();
    bool timedOut = false; // or abandoned: the child is killed
    char buf[65536];
    for (;;) {
        const qint64 left = kTimeoutMs - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            timedOut = r == 0;
            break;
        }
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        in.append(buf, qsizetype(n));
        if (in.size() > SheetLimits::kMaxUnpackedBytes) {
            timedOut = true; // abandoned: the child may still be writing
            break;
        }
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        throw SheetError(SheetTexts::damaged());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw SheetError(SheetTexts::damaged());
    QDataStream ds(in);
    quint8 kind = 1;
    ds >> kind;
    if (kind == 0) {
        SheetData data;
        ds >> data.rows;
        if (ds.status() != QDataStream::Ok)
            throw SheetError(SheetTexts::damaged());
        return data;
    }
    QString text;
    ds >> text;
    throw SheetError(ds.status() == QDataStream::Ok && !text.isEmpty() ? text : SheetTexts::damaged());
}

SheetData XlsReader::readFileHere(const QString &path) const
{
    XlsHandle xls;
    const int rc = freexl_open(QFile::encodeName(path).constData(), &xls.h);
    if (rc == FREEXL_INSUFFICIENT_MEMORY)
        throw SheetError(SheetTexts::tooLarge());
    if (rc != FREEXL_OK)
        throw SheetError(SheetTexts::damaged());
    unsigned int protection = 0;
    if (freexl_get_info(xls.h, FREEXL_BIFF_PASSWORD, &protection) == FREEXL_OK
        && protection == FREEXL_BIFF_OBFUSCATED)
        throw SheetError(SheetTexts::encrypted());

    unsigned int sheets = 0;
    if (freexl_get_info(xls.h, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
        throw SheetError(QStringLiteral("表格文件中没有工作表"));
    if (freexl_select_active_worksheet(xls.h, 0) != FREEXL_OK)
        throw SheetError(SheetTexts::damaged());
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (freexl_worksheet_dimensions(xls.h, &rows, &cols) != FREEXL_OK)
        throw SheetError(SheetTexts::damaged());
    if (rows > unsigned(SheetLimits::kMaxRows))
        throw SheetError(SheetTexts::tooManyRows());

    SheetData data;
    const unsigned short usedCols = qMin<unsigned short>(cols, SheetLimits::kMaxColumns);
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < usedCols; ++c) {
            FreeXL_CellValue v;
            if (freexl_get_cell_value(xls.h, r, c, &v) != FREEXL_OK)
                throw SheetError(SheetTexts::damaged());
            QString text;
            switch (v.type) {
            case FREEXL_CELL_INT: text = QString::number(v.value.int_value); break;
            case FREEXL_CELL_DOUBLE: text = numberText(v.value.double_value); break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_TIME:
                text = v.value.text_value ? QString::fromUtf8(v.value.text_value) : QString();
                break;
            case FREEXL_CELL_DATE:
                text = v.value.text_value ? dateText(v.value.text_value, false) : QString();
                break;
            case FREEXL_CELL_DATETIME:
                text = v.value.text_value ? dateText(v.value.text_value, true) : QString();
                break;
            default: break;
            }
            data.set(int(r), c, text);
        }
    }
    return data;
}
