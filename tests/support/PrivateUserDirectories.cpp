// Linked into every test and benchmark: the process gets empty per-user data and configuration
// directories of its own, so it never sees nor touches the catalogue and settings of an installed
// Quillary of the person running it (a program directory without the two files beside it counts as
// an installed copy).
#include <QCoreApplication>
#include <QTemporaryDir>

namespace {

void usePrivateUserDirectories()
{
    static QTemporaryDir home;
    if (!home.isValid())
        qFatal("cannot make private per-user directories for the test");
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(usePrivateUserDirectories)
