#include "station/StationVersion.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle());
    QLabel placeholder(ApplicationTitle());
    placeholder.setWindowTitle(ApplicationTitle());
    placeholder.show();
    return QApplication::exec();
}
