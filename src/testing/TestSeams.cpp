#include "testing/TestSeams.h"

#define QUILLARY_SEAM(type, name)                                                                            \
    type &TestSeams::name()                                                                                  \
    {                                                                                                        \
        static type seam;                                                                                    \
        return seam;                                                                                         \
    }

QUILLARY_SEAM(QString, ProgramDirectory)
QUILLARY_SEAM(std::optional<TestSeams::DrivePaths>, Drives)
using MessageBoxSeam = std::function<void(QWidget *, const QString &)>;
QUILLARY_SEAM(MessageBoxSeam, MessageBox)
QUILLARY_SEAM(std::function<void()>, EndProgram)
QUILLARY_SEAM(std::function<void()>, AfterSearchYield)
QUILLARY_SEAM(std::function<void()>, AfterScanYield)
QUILLARY_SEAM(std::function<void()>, AfterSaveYield)
using WalkFaultSeam = std::function<int(std::string_view)>;
QUILLARY_SEAM(WalkFaultSeam, WalkFault)
QUILLARY_SEAM(std::optional<int>, CommitIntervalMs)
QUILLARY_SEAM(std::optional<int>, LockAllowanceMs)
QUILLARY_SEAM(std::optional<QLocale>, DateLocale)

void TestSeams::Reset()
{
    ProgramDirectory().clear();
    Drives().reset();
    MessageBox() = {};
    EndProgram() = {};
    AfterSearchYield() = {};
    AfterScanYield() = {};
    AfterSaveYield() = {};
    WalkFault() = {};
    CommitIntervalMs().reset();
    LockAllowanceMs().reset();
    DateLocale().reset();
}
