#include "app/MessageBox.h"

#include "settings/modConstant.h"
#include "testing/TestSeams.h"

#include <QMessageBox>

void quillary::ShowMessage(QWidget *parent, const QString &text)
{
    if (const auto &seam = TestSeams::MessageBox()) {
        seam(parent, text);
        return;
    }
    // The program's texts break lines with CR LF; a label breaks them at LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Information, modConstant::kAppTitle, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
