#pragma once
// The event loop the window runs on, chosen before the application object is made.

namespace EventLoop {

// Qt's own event dispatcher rather than GLib's, unless the user chose one (QT_NO_GLIB set).
// The long commands yield to the window once per record, and with nothing pending a turn of GLib's
// loop (its sources, locks and the same poll) costs about half as much again as Qt's.
void ChooseDispatcher();

} // namespace EventLoop
