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

// When an installed copy could not copy the shipped empty catalogue to where the user's belongs;
// failure is "<path>: <reason>".
inline QString CatalogueNotMadeMessage(const QString &catalogue, const QString &failure)
{
    return QStringLiteral("Your catalogue '") + catalogue + QStringLiteral("' could not be made.\r\n") +
           failure;
}

inline const QString kDriveNotReadyMessage =
    QStringLiteral("The selected drive is not ready \r\nPlease Insert CD !!!");

} // namespace modConstant
