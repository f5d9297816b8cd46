#pragma once
// What an install puts under its prefix, for the tests that install Quillary or build its package.

#include <QStringList>

namespace InstalledFiles {

// Every file an install puts under its prefix, sorted.
inline QStringList all()
{
    return QStringLiteral(
               "bin/quillary bin/quillary-cli share/applications/org.quillary.Quillary.desktop "
               "share/doc/quillary/changelog.gz share/doc/quillary/copyright "
               "share/icons/hicolor/scalable/apps/org.quillary.Quillary.svg share/man/man1/quillary-cli.1.gz "
               "share/man/man1/quillary.1.gz share/metainfo/org.quillary.Quillary.metainfo.xml "
               "share/quillary/ZODidozode.mdb")
        .split(u' ');
}

} // namespace InstalledFiles
