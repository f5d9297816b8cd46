#pragma once
// The About box.

#include <QDialog>

class QLabel;
class QPushButton;

class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget *owner);

    // The five lines of the About text.
    static QString AboutText();

private:
    void Form_Load();

    QPushButton *cmdOK = nullptr;
    QLabel *pctAboutLogo = nullptr;
    QLabel *lblAboutMsg = nullptr;
};
