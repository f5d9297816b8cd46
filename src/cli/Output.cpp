#include "cli/Output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace Cli {

namespace {

void writeError(const QString &text)
{
    QString message = text;
    message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray bytes = QByteArray(kProgramName) + ": " + message.toUtf8() + '\n';
    std::fflush(stdout);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void Error(const QString &message)
{
    writeError(message);
}

void UsageError(const QString &message)
{
    writeError(message + QStringLiteral("\nTry '") + QLatin1StringView(kProgramName) +
               QStringLiteral(" --help' for more information."));
}

OutputStream::OutputStream(int fd) : m_fd(fd), m_lineBuffered(isatty(fd) == 1)
{
    m_buffer.reserve(kCapacity);
}

OutputStream::~OutputStream()
{
    Flush();
}

void OutputStream::Flush()
{
    const char *data = m_buffer.data();
    size_t left = m_buffer.size();
    while (left > 0 && m_error == 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0) {
            if (errno != EINTR)
                m_error = errno;
            continue;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    m_buffer.clear();
}

bool OutputStream::Finish()
{
    Flush();
    if (m_error == 0)
        return true;
    Error(QStringLiteral("write error: ") + QString::fromLocal8Bit(std::strerror(m_error)));
    return false;
}

QString Grouped(qint64 value)
{
    QString digits = QString::number(value < 0 ? -value : value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u',');
    return value < 0 ? QStringLiteral("-") + digits : digits;
}

} // namespace Cli
