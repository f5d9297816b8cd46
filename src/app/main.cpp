#include "app/WindowProcess.h"
#include "app/frmZIDovidovarar.h"
#include "settings/ProgramFiles.h"
#include "settings/modFunction.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    WindowProcess::Prepare();
    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("org.quillary.Quillary"));
    // An installed copy gives each user a catalogue of their own on the first start.
    ProgramFiles::PrepareUserCatalogue(modFunction::ProgramDirectory());
    frmZIDovidovarar window;
    window.show();
    return app.exec();
}
