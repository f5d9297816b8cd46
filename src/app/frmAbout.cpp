#include "app/frmAbout.h"

#include "app/WindowLayout.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

frmAbout::frmAbout(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Quillary"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/disc.svg")));
    // Fixed dialog border: no minimise or maximise box; an owned dialog has no task bar entry.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(WindowLayout::twips(0, 0, 4200, 1950).size());
    setModal(true);

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(WindowLayout::twips(1493, 1440, 1215, 375));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    pctAboutLogo = new QLabel(this);
    pctAboutLogo->setObjectName(QStringLiteral("pctAboutLogo"));
    pctAboutLogo->setGeometry(WindowLayout::twips(180, 240, 480, 480));
    pctAboutLogo->setPixmap(QIcon(QStringLiteral(":/icons/disc.svg")).pixmap(32, 32));

    lblAboutMsg = new QLabel(this);
    lblAboutMsg->setObjectName(QStringLiteral("lblAboutMsg"));
    lblAboutMsg->setGeometry(WindowLayout::twips(780, 240, 3255, 1035));
    lblAboutMsg->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    setTabOrder(cmdOK, pctAboutLogo);
    cmdOK->setFocus(Qt::OtherFocusReason);
    Form_Load();
}

QString frmAbout::AboutText()
{
    return QStringLiteral("Quillary Version %1\n"
                          "\n"
                          "Copyright \u00a9 2026 the Quillary authors\n"
                          "\n"
                          "Help and contact: see README.md")
        .arg(QStringLiteral(QUILLARY_VERSION));
}

void frmAbout::Form_Load()
{
    lblAboutMsg->setText(AboutText());
}
