#pragma once
// Every modal message of the program goes through here, so tests can answer it.

#include <QString>

#include <functional>

class QWidget;

namespace quillary {

// Shows text in a modal box: information icon, OK only, title "Quillary".
void ShowMessage(QWidget *parent, const QString &text);

// Replaces the box for tests; an empty function restores the real box.
using MessageHandler = std::function<void(QWidget *parent, const QString &text)>;
void SetMessageHandler(MessageHandler handler);

} // namespace quillary
