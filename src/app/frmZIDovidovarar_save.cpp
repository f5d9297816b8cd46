// "Add to Database": saving the scan into the catalogue.
#include "app/frmZIDovidovarar.h"

#include "app/MessageBox.h"
#include "catalogue/clsFileColl.h"
#include "db/CatalogueIndex.h"
#include "db/CatalogueSave.h"
#include "db/CompactCatalogue.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <exception>

namespace {
// The search index is brought up to date after a save while the window has nothing else to do, in
// steps short enough that input is never kept waiting long.
constexpr int kIndexStepMs = 30;
constexpr int kIndexRetryWhileBusyMs = 200; // a command of the window runs
constexpr int kIndexRetryLockedMs = 1000;   // another program holds the catalogue
constexpr int kIndexLetGoMs = 50;           // the work committed so far, before it goes on
} // namespace

// Shows the save's progress in the window: the bar at the record's position, its file name, and
// the number stored so far; yields once per record. The texts are made only when the display is
// about to show them, and once more at the end, so the per-record work stays small.
struct frmZIDovidovarar::SavePart : SaveObserver
{
    explicit SavePart(frmZIDovidovarar &window) : w(window)
    {
        // Rows that another program added, or that a save left for later, are indexed once the
        // window is idle.
        m_indexStep.setSingleShot(true);
        QObject::connect(&m_indexStep, &QTimer::timeout, &w, [this] { indexStep(); });
        m_indexStep.start(0);
    }

    void RecordStarting(qint32 position, const clsFile &record) override
    {
        m_position = position;
        m_record = &record; // stays put until the save yields, after RecordDone
    }

    void RecordDone(qint32 savedCount) override
    {
        m_saved = savedCount;
        if (w.display().pushDue())
            show();
        m_record = nullptr;
        w.display().yield();
    }

    void Working() override { w.display().yield(); }

    void start()
    {
        m_position = 0;
        m_saved = 0;
        m_record = nullptr;
    }

    // The exact values once the save has returned: the last record started and the rows stored.
    void finish(const clsFileColl &files, qint32 savedCount)
    {
        m_saved = savedCount;
        if (m_position >= 1 && m_position <= files.Count())
            m_record = &files.Item(m_position);
        show();
        m_record = nullptr;
        m_indexStep.start(0);
    }

    void show()
    {
        if (m_position > 0)
            w.display().setBarValue(w.pgbrFile, m_position);
        if (m_record)
            w.display().setText(w.lblFile, QStringLiteral(" ") + m_record->FileName());
        w.display().setText(w.lblFilesFound, QStringLiteral("Files Save: ") + QString::number(m_saved));
    }

    // Starts or goes on with bringing the search index up to date, a step at a time.
    void indexStep()
    {
        if (w.blnBusy()) {
            m_indexStep.start(kIndexRetryWhileBusyMs);
            return;
        }
        if (!m_upkeep) {
            const QString path = modFunction::DefaultDatabasePath();
            if (path.isEmpty())
                return;
            m_upkeep = std::make_unique<CatalogueIndex::Upkeep>(path);
        }
        switch (m_upkeep->step(kIndexStepMs)) {
        case CatalogueIndex::Step::More:
            // After a step that let go of the catalogue, another program gets a moment to write.
            m_indexStep.start(m_upkeep->holdsCatalogue() ? 0 : kIndexLetGoMs);
            return;
        case CatalogueIndex::Step::Busy:
            m_indexStep.start(kIndexRetryLockedMs);
            return;
        case CatalogueIndex::Step::UpToDate:
        case CatalogueIndex::Step::Failed:
            m_upkeep.reset();
            return;
        }
    }

    // Before a command: the index work lets go of the catalogue (it goes on when the window is idle).
    void pauseIndexUpkeep()
    {
        if (m_upkeep) {
            m_upkeep.reset();
            m_indexStep.start(kIndexRetryWhileBusyMs);
        }
    }

    frmZIDovidovarar &w;
    qint32 m_position = 0;
    qint32 m_saved = 0;
    const clsFile *m_record = nullptr;
    QTimer m_indexStep;
    std::unique_ptr<CatalogueIndex::Upkeep> m_upkeep;
};

void frmZIDovidovarar::pauseIndexUpkeep()
{
    m_save->pauseIndexUpkeep();
}

void frmZIDovidovarar::initSavePart()
{
    m_save = std::make_shared<SavePart>(*this);
}

void frmZIDovidovarar::cmdAddToDB_Click()
{
    // A scan or a search in progress: the save waits for the user to try again.
    if (!beginCommand(cmdAddToDB, QStringLiteral("Quillary - Saving file information to database...")) ||
        refuseWithoutCatalogue(cmdAddToDB))
        return;
    if (objScannedFiles().Count() == 0) {
        m_display.flush();
        quillary::ShowMessage(
            this, QStringLiteral("Please scan a CD and then save the file list to the database."));
        endCommand(cmdAddToDB);
        return;
    }

    setHourglass(true);
    m_display.setBarRange(pgbrFile, 0, objScannedFiles().Count());
    m_display.setText(lblDirectory, QString());
    m_display.setText(lblDirScanned, QString());
    pgbrDir->setVisible(false);
    pgbrFile->setVisible(true);
    m_display.setText(lblFile, QString());
    m_display.setText(lblFileScanned, QStringLiteral("File Saved:"));
    m_display.setText(lblFilesFound, QStringLiteral("Files Save: 0"));

    // SaveFileList and SaveFileRecord: one connection for the whole list, one row per record.
    SaveSettings settings;
    settings.updateIndex = false; // done while the window is idle afterwards
    settings.commitIntervalMs = TestSeams::CommitIntervalMs().value_or(settings.commitIntervalMs);
    settings.lockAllowanceMs = TestSeams::LockAllowanceMs().value_or(settings.lockAllowanceMs);
    CatalogueSave save(*m_save, settings);
    m_save->start();
    QString failure;
    try {
        if (!save.SaveFileList(modFunction::DefaultDatabasePath(), objScannedFiles()))
            failure = save.FailureText();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    // The label ends at the number of rows that are really in the catalogue.
    m_save->finish(objScannedFiles(), save.SavedCount());

    if (failure.isEmpty()) {
        // Its result is not shown: a catalogue that could not be compacted is still complete.
        CatalogueCompaction::CompactCatalogue(modFunction::DefaultDatabasePath());
    }

    m_display.setText(lblDirectory, QString());
    m_display.setText(lblDirScanned, QString());
    pgbrDir->setVisible(false);
    pgbrFile->setVisible(true);
    if (!failure.isEmpty()) {
        // The save stopped: say why, then give the window back.
        m_display.flush();
        setHourglass(false);
        quillary::ShowMessage(this, QStringLiteral("The file list could not be saved to the database.\r\n") +
                                        failure + QStringLiteral("\r\n") +
                                        QStringLiteral("%1 of %2 files were saved.")
                                            .arg(save.SavedCount())
                                            .arg(objScannedFiles().Count()));
    }
    endCommand(cmdAddToDB);
}
