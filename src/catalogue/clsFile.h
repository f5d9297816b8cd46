#pragma once
// The record of one file found on a disc: six texts.

#include <QString>

class clsFile
{
public:
    QString CDLabelName() const;
    void setCDLabelName(const QString &value);
    QString FileName() const;
    void setFileName(const QString &value);
    QString FilePath() const;
    void setFilePath(const QString &value);
    QString FileSize() const;
    void setFileSize(const QString &value);
    QString CreateDate() const;
    void setCreateDate(const QString &value);
    QString LastUpdateDate() const;
    void setLastUpdateDate(const QString &value);

    // Fills the record from the file at root + relativePath ("SETUP/DATA/FILE1.CAB") on the disc
    // labelled label. Returns false, leaving the fields as they were, when the file cannot be read.
    bool SetFileInformation(const QString &root, const QString &relativePath, const QString &label);

private:
    // implementation-defined compact storage
};
