#pragma once
// Reading a catalogue ahead. SQLite reads a database one page (4 KB) per system call; a search that
// reads the rows its index does not cover yet reads thousands of pages in file order, and each system
// call costs more than copying its page. Nothing in SQLite reads ahead, so the catalogue layer opens
// its connections through a file system layer of its own over SQLite's: where a connection reads a
// database file in order, the next 64 KB come in one call and the pages after it are served from them.
//
// The bytes kept are only ever those of the file as the connection's own lock holds it: they are let go
// whenever the connection locks or unlocks the file, writes to it or changes it otherwise, and a file in
// write-ahead-log mode (where other connections write to the database file while it is read) is never
// read ahead.

namespace ReadAhead {

// The name to open connections with (sqlite3_open_v2's zVfs); made on first use. Null when it could not
// be made: connections then use SQLite's own.
const char *VfsName();

} // namespace ReadAhead
