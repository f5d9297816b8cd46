#include "app/MessageBox.h"

#include "app/modConstant.h"

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
    QMessageBox box(QMessageBox::Information, modConstant::kAppTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

void quillary::SetMessageHandler(MessageHandler h)
{
    handler() = std::move(h);
}
