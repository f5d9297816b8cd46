#pragma once
// What a walk of a disc tells the front end that runs it (see DiscWalk).

#include "catalogue/clsFile.h"

#include <QString>

#include <string_view>

class ScanObserver
{
public:
    virtual ~ScanObserver() = default;
    // A directory was read; path is its full path ending in '/'.
    virtual void directoryListed(const QString &path) = 0;
    // The files of the directory just read are about to be recorded (count > 0).
    virtual void filesStarting(qint64 count) = 0;
    // The file at index (from 0) of the current directory is about to be recorded; its name in UTF-8
    // as the record holds it (TextForms::appendFileName), valid during the call only (a window shows it at
    // its next yield, not for every file).
    virtual void fileStarting(qint64 index, std::string_view name) = 0;
    // The file's record was added to the list; key is its position in this walk, from 0.
    virtual void fileListed(const clsFile &record, qint64 key) = 0;
    // Subdirectory done + 1 of count of the current directory is about to be walked.
    virtual void subdirectoryStarting(qint64 done, qint64 count) = 0;
    // A directory's walk ended because the drive no longer holds a readable disc. When the drive's
    // root cannot be read after this call returns, the whole walk ends.
    virtual void driveNotReady() = 0;
    // Lets the window handle its pending events: after a directory is read, after the files with index
    // 100, 200, ... of a directory, and before the subdirectories of a directory.
    virtual void yield() = 0;
};
