// Linked into every test and benchmark: the process gets empty per-user data and configuration
// directories of its own, so it never sees nor touches the catalogue and settings of an installed
// Quillary of the person running it (a program directory without the two files beside it counts as
// an installed copy).
#include <QCoreApplication>
#include <QTemporaryDir>

static void usePrivateUserDirectories()
{
    static QTemporaryDir home;
    if (!home.isValid())
        qFatal("cannot make private per-user directories for the test");
    qputenv("XDG_DATA_HOME", home.filePath("data").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
}

Q_COREAPP_STARTUP_FUNCTION(usePrivateUserDirectories)
