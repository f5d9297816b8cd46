#include "app/WindowProcess.h"
#include "app/frmZIDovidovarar.h"
#include "settings/modFunction.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    WindowProcess::Prepare();
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.quillary.Quillary"));
    // Settles whether this copy is portable or installed; an installed copy gives each user a catalogue
    // of their own on the first start (the commands say so when it could not).
    modFunction::PrepareUserCatalogue();
    frmZIDovidovarar window;
    window.show();
    return app.exec();
}
