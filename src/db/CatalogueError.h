#pragma once
// The one error type of the catalogue layer, and the one place it becomes a sentence for the user.

#include <QString>

// Why a catalogue operation failed: SQLite's message and its extended result code (SQLITE_CANTOPEN
// for a catalogue that could not be found, SQLITE_ERROR for a failure without a code of its own).
struct CDatabaseError
{
    QString text;
    int code = 0;
    // For a catalogue on a server: the server's SQLSTATE ("42501": a right is missing; "08006": the
    // connection was lost, ...), with code SQLITE_ERROR. Empty for a catalogue file.
    QString sqlState{};

    int primaryCode() const { return code & 0xff; }
    bool isSet() const { return code != 0 || !text.isEmpty(); }
};

// What the command was doing when the catalogue failed, for the sentence's fallback.
enum class CatalogueTask { Saving, Reading, Indexing };

// Why a catalogue operation failed, in words for the user, naming the catalogue: "The catalogue '...'
// is locked by another program.", "The file '...' is not a Quillary catalogue: it has no table
// 'Quillary'.", "The file '...' is empty: ...", ... followed by SQLite's own message in parentheses
// when it has one. path is the catalogue's path (its file name is used when it is empty).
QString DescribeCatalogueError(const CDatabaseError &error, const QString &path, CatalogueTask task);
