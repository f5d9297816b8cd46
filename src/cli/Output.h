#pragma once
// What the command-line tool writes: rows on standard output through one buffer, messages on
// standard error, and the exit statuses.

#include <QString>

#include <string>
#include <string_view>

namespace Cli {

inline constexpr const char *kProgramName = "quillary-cli";

// Exit statuses, as grep has them.
enum Status { kSuccess = 0, kNothingFound = 1, kTrouble = 2 };

// Writes "quillary-cli: " and the message, with the window's CR LF line breaks as plain line feeds,
// and a line feed to standard error.
void Error(const QString &message);
// The same followed by the usual pointer to --help (for a command line that makes no sense).
void UsageError(const QString &message);

// Standard output through a buffer of our own: one write(2) per 64 KiB, or per line on a terminal so
// that each row shows as soon as it is read. A failed write (a full disk, a closed pipe where SIGPIPE
// is ignored) is remembered and every later write skipped; Finish() reports it.
class OutputStream
{
public:
    explicit OutputStream(int fd = 1);
    ~OutputStream();
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;

    void Append(std::string_view text)
    {
        if (m_buffer.size() + text.size() > kCapacity)
            Flush();
        m_buffer.append(text);
    }
    void Append(char c)
    {
        if (m_buffer.size() + 1 > kCapacity)
            Flush();
        m_buffer.push_back(c);
    }
    void Append(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        Append(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    }
    // Ends a row or a line of text.
    void EndLine(std::string_view end = "\n")
    {
        Append(end);
        if (m_lineBuffered)
            Flush();
    }
    void Flush();
    // Flushes; false with a message on standard error when anything could not be written.
    bool Finish();

private:
    static constexpr size_t kCapacity = 64 * 1024;
    int m_fd;
    bool m_lineBuffered;
    int m_error = 0;
    std::string m_buffer;
};

// A count with thousands grouped by commas: 12,345.
QString Grouped(qint64 value);

} // namespace Cli
