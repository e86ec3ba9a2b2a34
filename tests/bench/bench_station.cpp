// The encoding file's rebuild on an oversized template: refused with its message, and what it costs in
// time and resident memory (a 200 MB comment in padrao.xml once made the client grow to 1.4 GB).
#include "station/EncodingFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <fstream>

namespace {

// A /proc/self/status value in KiB ("VmRSS", "VmHWM"); -1 when absent.
long StatusKiB(const char* key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key) && line.size() > qsizetype(std::strlen(key))
            && line[std::strlen(key)] == ':') {
            return line.mid(qsizetype(std::strlen(key)) + 1).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// Resets the peak resident size to the current one, so VmHWM shows this benchmark's own peak.
void ResetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_RebuildFromHugeTemplate(benchmark::State& state)
{
    const qint64 comment = state.range(0) * 1024 * 1024;
    QTemporaryDir dir;
    const QString templ = dir.filePath(QStringLiteral("padrao.xml"));
    {
        QFile source(QStringLiteral(ZOVEVA_TEMPLATE));
        QFile out(templ);
        if (!source.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot make the template");
            return;
        }
        const QByteArray good = source.readAll();
        const qsizetype root = good.indexOf("<Encoding");
        out.write(good.left(root) + "<!--");
        const QByteArray chunk(1024 * 1024, 'x');
        for (qint64 written = 0; written < comment; written += chunk.size()) {
            out.write(chunk);
        }
        out.write("-->\n" + good.mid(root));
    }
    const QString user = dir.filePath(QStringLiteral("radio1.xml"));
    const TEncodingValues values { QStringLiteral("R\u00e1dio"), QStringLiteral("Placa 1"),
        QStringLiteral("ns1.varekradio.net.br"), QStringLiteral("radio1") };

    ResetPeak();
    const long before = StatusKiB("VmRSS");
    int refused = 0;
    for (auto _ : state) {
        try {
            RebuildEncodingFileFrom(templ, user, values, u"64008");
        } catch (const EEncodingFileError&) {
            ++refused;
        }
    }
    state.counters["refused"] = refused == state.iterations() ? 1 : 0;
    state.counters["peak_rss_growth_MiB"] = (StatusKiB("VmHWM") - before) / 1024.0;
    state.counters["user_file_written"] = QFile::exists(user) ? 1 : 0;
}
BENCHMARK(BM_RebuildFromHugeTemplate)->Arg(200)->Unit(benchmark::kMicrosecond);

} // namespace
