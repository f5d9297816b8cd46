#pragma once
// The statements on the table of discs that more than one part of the catalogue runs (see catalogue.sql).

// The tables, for a catalogue made before them (the same statements as in catalogue.sql).
inline constexpr const char *kCreateDiscTables =
    "CREATE TABLE IF NOT EXISTS QuillaryDisc (\n"
    "    Number INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "    Label TEXT NOT NULL,\n"
    "    Added TEXT NOT NULL,\n"
    "    SourceKind TEXT NOT NULL,\n"
    "    SourcePath TEXT NOT NULL,\n"
    "    Identity TEXT\n"
    ");\n"
    "CREATE TABLE IF NOT EXISTS QuillaryDiscRows (\n"
    "    FirstRow INTEGER PRIMARY KEY,\n"
    "    LastRow INTEGER NOT NULL,\n"
    "    Disc INTEGER NOT NULL REFERENCES QuillaryDisc (Number),\n"
    "    Files INTEGER,\n"
    "    Bytes INTEGER\n"
    ");\n"
    "CREATE INDEX IF NOT EXISTS QuillaryDiscRowsOfDisc ON QuillaryDiscRows (Disc);";

// Whether the ranges have their counts: a table made by an older build has no such columns.
inline constexpr const char *kDiscRowCounts = "SELECT Files, Bytes FROM QuillaryDiscRows LIMIT 0";
inline constexpr const char *kAddDiscRowCounts = "ALTER TABLE QuillaryDiscRows ADD COLUMN Files INTEGER;\n"
                                                 "ALTER TABLE QuillaryDiscRows ADD COLUMN Bytes INTEGER;";

// The files and bytes of the rows first (?1) to last (?2): the stored decimal sizes as integers.
inline constexpr const char *kRangeTotals =
    "SELECT count(*), coalesce(sum(CAST(FileSize AS INTEGER)), 0) FROM Quillary WHERE rowid >= ?1 AND "
    "rowid <= ?2";

// For a connection about to delete a disc's rows: the pages they lie on kept in the cache (spilling them
// to the file as the deletion goes takes as long again), and freed pages left as they are rather than
// overwritten (the compaction that follows gives them back to the file system).
inline constexpr const char *kBulkDeletion = "PRAGMA cache_size = -65536; PRAGMA secure_delete = FAST";

// Counts the files and bytes of every range of rows of the disc ?1 again.
inline constexpr const char *kRecountDisc =
    "UPDATE QuillaryDiscRows SET (Files, Bytes) = (SELECT count(*), coalesce(sum(CAST(FileSize AS INTEGER)), "
    "0) FROM Quillary WHERE rowid >= QuillaryDiscRows.FirstRow AND rowid <= QuillaryDiscRows.LastRow) WHERE "
    "Disc = ?1";
