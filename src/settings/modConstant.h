#pragma once
// The program's fixed texts and names.

#include <QString>

namespace modConstant {

inline const QString kAppTitle = QStringLiteral("Quillary");
inline const QString kSettingsFileName = QStringLiteral("Quillary.ini");
inline const QString kDatabaseFileName = QStringLiteral("ZODidozode.mdb");
inline const QString kSettingsSection = QStringLiteral("QUILLARY");
inline const QString kKeyDbPath = QStringLiteral("DBPATH");
inline const QString kKeySaveLastSetting = QStringLiteral("SaveLastSetting");

inline QString DatabaseMissingMessage()
{
    return QStringLiteral("Database file could not be found.\r\nPlease specify the file path of '") +
           kDatabaseFileName + QStringLiteral("'.");
}

inline const QString kDriveNotReadyMessage =
    QStringLiteral("The selected drive is not ready \r\nPlease Insert CD !!!");

} // namespace modConstant
