#pragma once
// A catalogue kept on a PostgreSQL server, for a team: several machines add to it and search it at
// once. The same rows as a catalogue file, with the discs recorded by number; each file's name is
// also kept case-folded (filled by this program) under a trigram index, so a search reads only the
// rows that can hold the phrase (a newly added disc's names come under it later, with other discs';
// until then a search reads that disc's rows). Every disc is stored in one transaction: readers see
// it whole or not at all.

#include "db/CatalogueStore.h"
#include "db/Postgres.h"

#include <QString>

#include <memory>

class ServerCatalogue : public CatalogueStore
{
public:
    // The schema this program makes and works on.
    static constexpr int kSchemaVersion = 3; // 2: content fingerprints; 3: a table of indexed names

    // Connects to the catalogue the connection text names (see CatalogueStore::Open).
    static std::unique_ptr<CatalogueStore> Connect(const QString &name, Access access, CDatabaseError *error);
    // Makes the catalogue's tables in a database that holds none, in one transaction: *outcome says
    // what was made. False with *error saying why.
    static bool Initialise(const QString &name, QString *outcome, CDatabaseError *error);

    QString Name() const override { return m_name; }
    const CDatabaseError &LastError() const override { return m_db.error(); }

    bool BeginRead() override;
    void EndRead() override;
    std::unique_ptr<CatalogueRows> OpenRows(const Disc *disc = nullptr) override;
    std::unique_ptr<CatalogueRows> Find(std::unique_ptr<NameMatcher> matcher, const Disc *disc) override;
    bool ListDiscs(std::vector<Disc> *discs) override;
    bool FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent = false) override;
    bool ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files) override;
    bool StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints) override;
    bool RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem) override;
    bool RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem) override;
    bool ReadyToAdd(CDatabaseError *error) override;
    bool StoreDisc(const DiscRecord &disc, const clsFileColl &files,
                   const std::vector<std::optional<Fingerprint>> *fingerprints, const Disc *replacing,
                   bool refuseCatalogued, SaveObserver &observer, Stored *stored) override;
    // Brings the waiting discs' names in once more than kIndexBacklogRows rows wait.
    void Tidy(const std::function<void()> &working) override;
    bool IsCatalogue(CDatabaseError *error) override;
    bool Integrity(QStringList *problems, CDatabaseError *error) override;
    CatalogueCheck::Index CompleteIndex(CDatabaseError *error, QString *finding) override;
    // The server counts a disc's files when asked: there are no stored counts to correct.
    bool RecountDiscs(qint64 *corrected) override
    {
        *corrected = 0;
        return true;
    }
    bool UpgradeSchema(QString *outcome, CDatabaseError *error) override;
    bool IsEmpty(bool *empty) override;
    bool BeginCopy() override;
    bool CopyDisc(const Disc &disc, CatalogueRows &rows, qint64 *copied) override;
    bool EndCopy(bool commit) override;

protected:
    qint64 DiscWithIdentity(const QString &identity) override;
    // Only the discs with that number or label: their rows counted through the index of discs.
    bool ListDiscsNamed(const QString &name, std::vector<Disc> *discs) override;

private:
    explicit ServerCatalogue(QString name) : m_name(std::move(name)) {}
    // Runs work in a transaction of its own, committed when it succeeds.
    bool inTransaction(const std::function<bool()> &work);
    // The condition on quillary_file that selects a disc's rows, its values from value first on.
    static std::string discCondition(const Disc &disc, int first, std::vector<PgValue> *values);
    // Takes count row IDs in a row for a disc about to be stored: *first is the first.
    bool reserveRows(qint64 count, qint64 *first);
    // Moves every waiting disc's names into quillary_name (in the caller's transaction): *moved names.
    bool bringNamesIn(qint64 *moved);
    // The upgrade from schema version 2 to 3 (in the caller's transaction).
    bool upgradeToNameTable();
    // The discs, or those a name gives (a number or a label).
    bool listDiscs(const QString *name, std::vector<Disc> *discs);

    QString m_name;
    PgConnection m_db;
    int m_version = 0;
    bool m_indexDropped = false; // by the copy in progress, made again at its end
};
