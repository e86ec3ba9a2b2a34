// zoveva-lcfbuild: translation sources into the language file.
//
//   zoveva-lcfbuild [--lcheade2] [--leading-column] [--rc DIR] -o ZoVeva.lcf lang/pt_BR.po lang/en_US.po ...
//
// The sources' order is the order of the language list. --lcheade2 writes each language's code page
// into the header; --leading-column gives every resource string a leading column holding the built-in
// text; --rc also writes the resources as a resource script with its data files into DIR.

#include "tools/lcfbuild/LcfBuild.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr,
        "usage: zoveva-lcfbuild [--lcheade2] [--leading-column] [--rc DIR] -o OUTPUT.lcf SOURCE.po...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString output;
    QString rcDirectory;
    bool lcheade2 = false;
    bool leadingColumn = false;
    QStringList sources;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("-o") && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == QLatin1String("--rc") && i + 1 < args.size()) {
            rcDirectory = args[++i];
        } else if (arg == QLatin1String("--lcheade2")) {
            lcheade2 = true;
        } else if (arg == QLatin1String("--leading-column")) {
            leadingColumn = true;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return Usage();
        } else {
            sources << arg;
        }
    }
    if (output.isEmpty() || sources.isEmpty()) {
        return Usage();
    }
    try {
        zv::lcf::TLcfContent content = zv::lcf::ReadPoSources(sources);
        content.Lcheade2 = lcheade2;
        content.LeadingColumn = leadingColumn;
        const std::vector<zv::lcf::TResource> resources = zv::lcf::LanguageResources(content);
        if (!rcDirectory.isEmpty()) {
            zv::lcf::WriteResourceScript(resources, rcDirectory);
        }
        const QByteArray module = zv::lcf::BuildResourceModule(resources);
        QSaveFile file(output);
        if (!file.open(QIODevice::WriteOnly) || file.write(module) != module.size() || !file.commit()) {
            std::fprintf(stderr, "zoveva-lcfbuild: %s: cannot be written\n", qPrintable(output));
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zoveva-lcfbuild: %s\n", error.what());
        return 1;
    }
    return 0;
}
