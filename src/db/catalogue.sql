-- The catalogue shipped with the program: ZODidozode.mdb, made from this file at build time.
-- Statements are executed one after the other, in file order, on a new empty database.
-- Sections may be appended at the end; each keeps to its own objects.

-- Free pages are given back by "PRAGMA incremental_vacuum" after a save, so a compaction never
-- has to rewrite the whole file. This must come before the first table is created.
PRAGMA auto_vacuum = INCREMENTAL;

-- One row per catalogued file. Every value is the text the scan listed; the program adds rows
-- and reads them, and never changes or deletes one. ID numbers the rows in the order they were
-- added.
CREATE TABLE Quillary (
    ID INTEGER PRIMARY KEY,
    CDLabel TEXT,
    FileName TEXT,
    FilePath TEXT,
    FileSize TEXT,
    CreateDate TEXT,
    LastUpdateDate TEXT
);

-- ===== Discs (kept by src/db/Catalogue.cpp; catalogues made without this section get it at their
-- first save) =====
-- One row per disc the program stored. Number counts the discs in the order they were added and is
-- never given again. Added is the time of the save in UTC (ISO 8601); SourceKind is 'device', 'image' or
-- 'directory' and SourcePath the device node, image file or directory read; Identity is what the
-- medium's volume descriptors give (NULL for a plain directory).
CREATE TABLE IF NOT EXISTS QuillaryDisc (
    Number INTEGER PRIMARY KEY AUTOINCREMENT,
    Label TEXT NOT NULL,
    Added TEXT NOT NULL,
    SourceKind TEXT NOT NULL,
    SourcePath TEXT NOT NULL,
    Identity TEXT
);
-- The rows of Quillary each disc owns: rows stored in one transaction are consecutive, so each commit
-- of a save adds one range of row IDs, written in the same transaction as its rows. Rows that no range
-- claims (stored before this section existed, or by another program) are shown as discs made of runs
-- of consecutive rows with one label. Files and Bytes count the range's rows and their sizes as the
-- save stored them (NULL in ranges stored by an older build, which are counted when read; tables made by
-- one get the columns at the next save); quillary-cli check counts them again.
CREATE TABLE IF NOT EXISTS QuillaryDiscRows (
    FirstRow INTEGER PRIMARY KEY,
    LastRow INTEGER NOT NULL,
    Disc INTEGER NOT NULL REFERENCES QuillaryDisc (Number),
    Files INTEGER,
    Bytes INTEGER
);
CREATE INDEX IF NOT EXISTS QuillaryDiscRowsOfDisc ON QuillaryDiscRows (Disc);
-- ===== End of the discs =====

-- ===== Fingerprints (kept by src/db/Catalogue.cpp and src/db/CatalogueSave.cpp; catalogues made
-- without this section get it when a fingerprint is first stored) =====
-- The content fingerprint of a catalogued file, for the files whose bytes were read: the 128-bit XXH3
-- hash of its bytes in canonical form (16 bytes, big-endian). Row is the file's row of Quillary; a
-- disc's fingerprints are written in the same transaction as its rows, and go with them (a disc
-- replaced loses them, unless its content is read again).
CREATE TABLE IF NOT EXISTS QuillaryFingerprint (
    Row INTEGER PRIMARY KEY,
    Hash BLOB NOT NULL
);
CREATE INDEX IF NOT EXISTS QuillaryFingerprintByHash ON QuillaryFingerprint (Hash);
CREATE TRIGGER IF NOT EXISTS QuillaryFingerprintOnDelete AFTER DELETE ON Quillary
BEGIN
    DELETE FROM QuillaryFingerprint WHERE Row = OLD.rowid;
END;
-- ===== End of the fingerprints =====

-- ===== Search index (maintained by src/search/CatalogueIndex.cpp; this section ends the file) =====
-- A case-folded copy of each file name, with a trigram index over it, so that a search reads only
-- the rows that can contain the phrase. The index covers the rows up to the watermark in
-- QuillarySearchState; rows above it are added after each save. The triggers are plain SQL, so
-- any program that writes Quillary keeps them working: each notes in QuillarySearchDirty an
-- indexed row that was added, changed or deleted, and the search reads such rows from the table
-- itself until the index is brought up to date. A catalogue without these objects is searched
-- by reading every name.
CREATE TABLE QuillarySearchFold (
    ID INTEGER PRIMARY KEY,
    Name TEXT
);
CREATE VIRTUAL TABLE QuillarySearchTrigram USING fts5(
    Name,
    content = 'QuillarySearchFold',
    content_rowid = 'ID',
    tokenize = 'trigram case_sensitive 1',
    detail = none
);
CREATE TABLE QuillarySearchState (
    Watermark INTEGER NOT NULL
);
INSERT INTO QuillarySearchState (Watermark) VALUES (0);
CREATE TABLE QuillarySearchDirty (
    ID INTEGER PRIMARY KEY
);
CREATE TRIGGER QuillarySearchOnInsert AFTER INSERT ON Quillary
WHEN NEW.rowid <= (SELECT Watermark FROM QuillarySearchState)
BEGIN
    INSERT OR IGNORE INTO QuillarySearchDirty (ID) VALUES (NEW.rowid);
END;
CREATE TRIGGER QuillarySearchOnUpdate AFTER UPDATE ON Quillary
WHEN OLD.rowid IS NOT NEW.rowid OR OLD.FileName IS NOT NEW.FileName
BEGIN
    INSERT OR IGNORE INTO QuillarySearchDirty (ID)
        SELECT OLD.rowid WHERE OLD.rowid <= (SELECT Watermark FROM QuillarySearchState);
    INSERT OR IGNORE INTO QuillarySearchDirty (ID)
        SELECT NEW.rowid WHERE NEW.rowid <= (SELECT Watermark FROM QuillarySearchState);
END;
CREATE TRIGGER QuillarySearchOnDelete AFTER DELETE ON Quillary
WHEN OLD.rowid <= (SELECT Watermark FROM QuillarySearchState)
BEGIN
    INSERT OR IGNORE INTO QuillarySearchDirty (ID) VALUES (OLD.rowid);
END;
-- The index's guard against changes made behind the program's back: the number of names the trigram
-- index holds as the program left it, and a mark that these triggers set when anything changes a
-- folded name or deletes one (a folded name added by another program is never reached: the trigram
-- index leads to the folded names, and its count would change). The program clears the mark after its
-- own writes; an index whose guard disagrees is not trusted, and is built afresh. (Catalogues made
-- before the guard get it then, from src/db/CatalogueIndex.cpp.)
CREATE TABLE QuillarySearchGuard (
    Names INTEGER NOT NULL,
    Altered INTEGER NOT NULL
);
INSERT INTO QuillarySearchGuard (Names, Altered) VALUES (0, 0);
CREATE TRIGGER QuillarySearchGuardOnUpdate AFTER UPDATE ON QuillarySearchFold
BEGIN
    UPDATE QuillarySearchGuard SET Altered = 1;
END;
CREATE TRIGGER QuillarySearchGuardOnDelete AFTER DELETE ON QuillarySearchFold
BEGIN
    UPDATE QuillarySearchGuard SET Altered = 1;
END;
-- ===== End of the search index =====
