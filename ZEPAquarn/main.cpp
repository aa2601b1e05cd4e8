#include "runtime/Log.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qCInfo(lcApp) << "app: starting";
    return 0;
}
