// "Add to Database": saving the scan into the catalogue.
#include "app/frmZIDovidovarar.h"

#include "app/IdleIndexing.h"
#include "app/MessageBox.h"
#include "catalogue/clsFileColl.h"
#include "db/Catalogue.h"
#include "db/CatalogueSave.h"
#include "drives/Drives.h"
#include "settings/modConstant.h"
#include "settings/modFunction.h"
#include "testing/TestSeams.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <exception>

// Shows the save's progress in the window: the bar at the record's position, its file name, and
// the number stored so far; yields once per record. The texts are made only when the display is
// about to show them, and once more at the end, so the per-record work stays small.
struct frmZIDovidovarar::SavePart : SaveObserver
{
    explicit SavePart(frmZIDovidovarar &window) : w(window) {}

    void RecordStarting(qint32 position, const clsFile &record) override
    {
        m_position = position;
        m_record = &record; // stays put until the save yields, in RecordDone
    }

    void RecordDone(qint32 savedCount) override
    {
        m_saved = savedCount;
        w.m_display.yield([this] { show(); });
        m_record = nullptr;
        if (const auto &hook = TestSeams::AfterSaveYield())
            hook();
    }

    void Working() override { w.m_display.yield(); }

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
    }

    void show()
    {
        if (m_position > 0)
            w.m_display.setBarValue(w.pgbrFile, m_position);
        if (m_record)
            w.m_display.setText(w.lblFile, QStringLiteral(" ") + m_record->FileName());
        w.m_display.setText(w.lblFilesFound, QStringLiteral("Files Save: ") + QString::number(m_saved));
    }

    frmZIDovidovarar &w;
    qint32 m_position = 0;
    qint32 m_saved = 0;
    const clsFile *m_record = nullptr;
};

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
    m_display.setBarValue(pgbrFile, 0);
    m_display.setText(lblFile, QString());
    m_display.setText(lblFileScanned, QStringLiteral("File Saved:"));
    m_display.setText(lblFilesFound, QStringLiteral("Files Save: 0"));
    // Shown at once: the save's first yields must not show what the last command left.
    m_display.flush();

    // SaveFileList and SaveFileRecord: one connection for the whole list, one row per record.
    SaveSettings settings;
    settings.updateIndex = false; // done while the window is idle afterwards
    settings.commitIntervalMs = TestSeams::CommitIntervalMs().value_or(settings.commitIntervalMs);
    settings.lockAllowanceMs = TestSeams::LockAllowanceMs().value_or(settings.lockAllowanceMs);
    const Catalogue catalogue(modFunction::DefaultDatabasePath());
    CatalogueSave save(*m_save, settings);
    // The disc is recorded beside its rows; the window says nothing of it.
    const Drives::MediumSource medium = Drives::SourceOfDirectory(m_scannedRoot);
    save.RecordDisc({QString(), medium.kind, medium.path, medium.identity});
    m_save->start();
    QString failure;
    try {
        if (!catalogue.Save(save, objScannedFiles()))
            failure = save.FailureText();
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    // The label ends at the number of rows that are really in the catalogue.
    m_save->finish(objScannedFiles(), save.SavedCount());

    if (failure.isEmpty()) {
        // Its result is not shown: a catalogue that could not be compacted is still complete. The
        // index work for the new rows follows while the window is idle, and compacts again after it.
        catalogue.Compact();
        m_indexing->schedule();
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
