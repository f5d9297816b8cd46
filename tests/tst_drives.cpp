// The CD drive list, readiness and volume labels.
#include "support/IsoImage.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class tst_drives : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void isoImageMountsAndUnmounts();
};

void tst_drives::isoImageMountsAndUnmounts()
{
    IsoImage disc("Metal 20");
    QVERIFY(disc.addFile("README.TXT", "hello\n"));
    QVERIFY(disc.addFile("SETUP/DATA/FILE1.CAB", QByteArray(3000, 'x')));
    if (!disc.buildAndMount())
        QSKIP(qPrintable(disc.skipReason()));
    QVERIFY(disc.root().endsWith("/mnt/Metal 20/"));
    QFile readme(disc.root() + "README.TXT");
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QCOMPARE(readme.readAll(), QByteArray("hello\n"));
    readme.close();
    QCOMPARE(QFileInfo(disc.root() + "SETUP/DATA/FILE1.CAB").size(), 3000);
    QVERIFY(disc.unmount());
    QVERIFY(!QFileInfo::exists(disc.mountPoint()));
}

QTEST_MAIN(tst_drives)
#include "tst_drives.moc"
