#include "app/MessageBox.h"

#include "settings/modConstant.h"

#include <QMessageBox>

namespace {
quillary::MessageHandler &handler()
{
    static quillary::MessageHandler h;
    return h;
}
} // namespace

void quillary::ShowMessage(QWidget *parent, const QString &text)
{
    if (handler()) {
        handler()(parent, text);
        return;
    }
    // The program's texts break lines with CR LF; a label breaks them at LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Information, modConstant::kAppTitle, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void quillary::SetMessageHandler(MessageHandler h)
{
    handler() = std::move(h);
}
