// Writes the program's pictures into the resources folder:  zoveva-skinart <resources folder>
// or a sheet to look at them:                               zoveva-skinart --preview <file.png>
#include "tools/skinart/SkinArt.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--preview") {
        return zv::art::Preview().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: zoveva-skinart <resources folder> | --preview <file.png>\n");
        return 2;
    }
    QString error;
    if (!zv::art::WriteArtwork(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "zoveva-skinart: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
