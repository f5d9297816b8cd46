#pragma once
// What the window's process settles before its application object and its first connection exist.

namespace WindowProcess {

// - Qt's own event dispatcher rather than GLib's, unless the user chose one (QT_NO_GLIB set): the long
//   commands yield to the window once per record, and with nothing pending a turn of GLib's loop (its
//   sources, locks and the same poll) costs about half as much again as Qt's.
// - SQLite's page caches in one region kept for the process: the window saves disc after disc.
void Prepare();

} // namespace WindowProcess
