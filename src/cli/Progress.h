#pragma once
// Progress on standard error, on one line rewritten in place, only when it is a terminal:
// "DISC01: 12,345 files (8,900 files/s)" while listing, "DISC01: reading 1.2 GB of 4.0 GB, 85 MB/s,
// 0:35 left" while reading the files' bytes, "DISC01: saving 5,000 of 12,345 files" while saving. At
// most ten updates a second.

#include "db/CatalogueSave.h"
#include "scan/DiscContent.h"
#include "scan/ScanObserver.h"

#include <QElapsedTimer>
#include <QString>

namespace Cli {

class Progress : public ScanObserver, public SaveObserver, public ContentObserver
{
public:
    Progress();

    void startDisc(const QString &label);
    void startReading(std::uint64_t totalBytes);
    void startSaving(qint64 total);
    // Clears the line before a message or at the end.
    void clear();
    // Ends the line with a last text.
    void done(const QString &text);

    // The walk.
    void directoryListed(const QString &) override {}
    void filesStarting(qint64) override {}
    void fileStarting(qint64, std::string_view) override {}
    void fileListed(const clsFile &, qint64 key) override;
    void subdirectoryStarting(qint64, qint64) override {}
    void driveNotReady() override {}
    void yield() override { showListing(false); }

    // Reading the files' bytes.
    void contentRead(std::uint64_t bytes) override;

    // The save.
    void RecordStarting(qint32, const clsFile &) override {}
    void RecordDone(qint32 savedCount) override;
    void Working() override;

private:
    void showListing(bool always);
    void show(const QString &text, bool always);

    const bool m_shown;
    bool m_lineShown = false;
    QString m_label;
    qint64 m_listed = 0;
    qint64 m_total = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_totalBytes = 0;
    qint64 m_readingSince = 0;
    QElapsedTimer m_clock;
    qint64 m_lastShown = 0;
};

} // namespace Cli
