#pragma once
// Every modal message of the program goes through here.

#include <QString>

class QWidget;

namespace quillary {

// Shows text in a modal box: information icon, OK only, title "Quillary".
void ShowMessage(QWidget *parent, const QString &text);

} // namespace quillary
