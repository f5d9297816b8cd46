#pragma once
// Every point where a test replaces what the program would otherwise take from the machine or the
// user. The program never sets any of them: each starts empty, which means "the real thing".
// Nothing else in the program exists for tests.

#include <QLocale>
#include <QString>

#include <functional>
#include <optional>
#include <string_view>

class QWidget;

namespace TestSeams {

// The directory the program takes for its own (its files lie there): the executable's when empty.
QString &ProgramDirectory();

// Where the drive list reads the machine: the mount table, /sys/block, /dev/disk/by-label and /dev.
struct DrivePaths
{
    QString mountTable;
    QString sysBlock;
    QString byLabel;
    QString devDir;
};
std::optional<DrivePaths> &Drives();

// The modal message box: the text goes here instead of to the screen.
std::function<void(QWidget *parent, const QString &text)> &MessageBox();
// Ending the program at once.
std::function<void()> &EndProgram();
// Called after every yield of the search command, of "List Files" (the walk's) and of "Add to Database"
// (the one after each record).
std::function<void()> &AfterSearchYield();
std::function<void()> &AfterScanYield();
std::function<void()> &AfterSaveYield();
// Called before the walker opens a directory (its path below the disc's root, ending in '/', empty
// for the root) and before it reads a file (its path below the root); a nonzero errno fails that step.
std::function<int(std::string_view relativePath)> &WalkFault();
// The save's commit interval and lock allowance, in milliseconds.
std::optional<int> &CommitIntervalMs();
std::optional<int> &LockAllowanceMs();
// The locale whose formats the dates of file records take (the system's when empty); a change takes
// effect at the next date made, and the time zone is read again then.
std::optional<QLocale> &DateLocale();

// Puts every seam back to the real thing.
void Reset();

} // namespace TestSeams
