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
