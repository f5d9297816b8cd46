#include "app/frmZIDovidovarar.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    frmZIDovidovarar window;
    window.show();
    return app.exec();
}
