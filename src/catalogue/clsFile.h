#pragma once
// The record of one file found on a disc: six texts.

#include <QString>

#include <array>
#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

class clsFile
{
public:
    clsFile() = default;
    clsFile(const clsFile &other);
    clsFile &operator=(const clsFile &other);
    clsFile(clsFile &&other) noexcept = default;
    clsFile &operator=(clsFile &&other) noexcept = default;
    ~clsFile() = default;

    QString CDLabelName() const;
    QString FileName() const;
    QString FilePath() const;
    QString FileSize() const;
    QString CreateDate() const;
    QString LastUpdateDate() const;

    // The same texts in UTF-8, read where the record holds them (valid while the record lives and is
    // not assigned to); the path is put together in a buffer of the caller's.
    std::string_view CDLabelNameUtf8() const;
    std::string_view FileNameUtf8() const { return piece(Name); }
    std::string_view FilePathUtf8(std::string &buffer) const;
    std::string_view FileSizeUtf8() const { return piece(Size); }
    std::string_view CreateDateUtf8() const { return piece(Create); }
    std::string_view LastUpdateDateUtf8() const { return piece(Update); }

    // All six at once (a record is filled once and then only read).
    void setAll(const QString &strCDLabelName, const QString &strFileName, const QString &strFilePath,
                const QString &strFileSize, const QString &strCreateDate, const QString &strLastUpdateDate);

    // Fills the record from the file at root + relativePath ("SETUP/DATA/FILE1.CAB") on the disc
    // labelled label. Returns false, leaving the fields as they were, when the file cannot be read.
    bool SetFileInformation(const QString &root, const QString &relativePath, const QString &label);

    // The walker's form of SetFileInformation: the file is name in the open directory dirFd, and
    // relativePath (UTF-8, '/' between names, ending in name) is where it lies below the disc's root.
    // On failure returns false, leaves the fields as they were and puts the errno into *error.
    bool SetFileInformationAt(int dirFd, const char *name, std::string_view relativePath,
                              const QString &label, int *error = nullptr);

    // The disc image reader's form: a file whose size in bytes and two times (seconds since the epoch)
    // are known already; relativePath (UTF-8, '/' between names) ends in the file's name.
    void SetFileInformationFrom(std::string_view relativePath, const QString &label, quint64 size,
                                std::time_t modified, std::time_t created);

    // Bytes held for this record alone beyond the object itself (for the memory figures of the
    // benchmark); a directory's text that the records of its files share is not counted.
    std::size_t heapBytes() const;

private:
    // The text of a directory's relative path ("SETUP/DATA/"), held once for the records of all the
    // files in it, and freed with the last of them.
    class SharedDirectory
    {
    public:
        SharedDirectory() = default;
        explicit SharedDirectory(std::string_view text);
        SharedDirectory(const SharedDirectory &other) noexcept;
        SharedDirectory(SharedDirectory &&other) noexcept : m_block(other.m_block)
        {
            other.m_block = nullptr;
        }
        SharedDirectory &operator=(SharedDirectory other) noexcept;
        ~SharedDirectory();
        std::string_view text() const;
        explicit operator bool() const { return m_block != nullptr; }

    private:
        struct Block
        {
            std::atomic<quint32> references;
            quint32 length;
            // the text follows
        };
        Block *m_block = nullptr;
    };

    // A record is one heap block of UTF-8 text plus a few lengths, so a million of them fit easily.
    // What can be derived is not stored twice: the label is kept once in a program-wide table,
    // a path of the form "label: relative/path" keeps only the relative part, and of that a scanned
    // file's record keeps only what follows its directory (m_directory, shared), a name that ends the
    // path is taken from there, and a creation time equal to the update time is kept once.
    enum Piece { Name = 0, Path, Size, Update, Create, PieceCount };
    enum Flag : unsigned char { PathAfterLabel = 1, NameEndsPath = 2, CreateIsUpdate = 4 };

    struct Pieces
    {
        std::string_view label;
        std::string_view name;
        std::string_view path; // the full FilePath text
        std::string_view size;
        std::string_view update;
        std::string_view create;
    };
    void store(const Pieces &pieces);
    // Stores a record whose path is label + ": " + directory + relativePath and whose name ends
    // relativePath.
    void storeScanned(quint32 labelId, std::string_view name, std::string_view relativePath,
                      std::string_view size, std::string_view update, std::string_view create,
                      SharedDirectory directory);
    // The relative path: the directory's text and the Path piece (put together in buffer if need be).
    std::string_view relativePath(std::string &buffer) const;
    std::string_view piece(Piece which) const;
    QString text(Piece which) const;

    std::unique_ptr<char[]> m_text;
    SharedDirectory m_directory;
    std::array<quint32, PieceCount> m_length{};
    quint32 m_label = 0;
    unsigned char m_flags = 0;
};
