#include "cli/RowWriter.h"

namespace Cli {

std::optional<Format> ParseFormat(const QString &name)
{
    if (name == QLatin1StringView("text"))
        return Format::Text;
    if (name == QLatin1StringView("csv"))
        return Format::Csv;
    if (name == QLatin1StringView("json"))
        return Format::Json;
    return std::nullopt;
}

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when the bytes there are not one.
size_t utf8SequenceLength(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length;
    unsigned int value;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and values beyond U+10FFFF are not UTF-8.
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

RowWriter::RowWriter(OutputStream &out, Format format, bool fingerprints)
    : m_out(out), m_format(format), m_fingerprints(fingerprints)
{
    for (int c = 0; c < ListColumns::kCount; ++c) {
        const QByteArray name = ListColumns::header(c).toUtf8();
        m_jsonKeys[static_cast<size_t>(c)] = (c == 0 ? "{\"" : ",\"") + name.toStdString() + "\":";
    }
}

void RowWriter::Header()
{
    if (m_format != Format::Csv)
        return;
    for (int c = 0; c < ListColumns::kCount; ++c) {
        if (c > 0)
            m_out.Append(',');
        const QByteArray name = ListColumns::header(c).toUtf8();
        csvField(std::string_view(name.constData(), static_cast<size_t>(name.size())));
    }
    if (m_fingerprints)
        m_out.Append(std::string_view(",Fingerprint"));
    m_out.EndLine("\r\n");
}

void RowWriter::Row(const RowFields &fields, std::string_view fingerprint)
{
    switch (m_format) {
    case Format::Text:
        m_out.Append(fields[ListColumns::Path]);
        m_out.EndLine();
        break;
    case Format::Csv:
        for (size_t c = 0; c < fields.size(); ++c) {
            if (c > 0)
                m_out.Append(',');
            csvField(fields[c]);
        }
        if (m_fingerprints) {
            m_out.Append(',');
            m_out.Append(fingerprint);
        }
        m_out.EndLine("\r\n");
        break;
    case Format::Json:
        for (size_t c = 0; c < fields.size(); ++c) {
            m_out.Append(m_jsonKeys[c]);
            if (c == ListColumns::FileSize)
                jsonSize(fields[c]);
            else
                jsonString(fields[c]);
        }
        if (!fingerprint.empty()) {
            m_out.Append(std::string_view(",\"Fingerprint\":\""));
            m_out.Append(fingerprint);
            m_out.Append('"');
        }
        m_out.Append('}');
        m_out.EndLine();
        break;
    }
}

void RowWriter::jsonSize(std::string_view text)
{
    // A size is a number; a blank one (a file whose size was not listed) is null. Any other text is
    // given as stored.
    const bool digits = !text.empty() && text.size() <= 18 &&
                        text.find_first_not_of("0123456789") == std::string_view::npos &&
                        (text.size() == 1 || text[0] != '0');
    if (digits)
        m_out.Append(text);
    else if (text.find_first_not_of(' ') == std::string_view::npos)
        m_out.Append(std::string_view("null"));
    else
        jsonString(text);
}

void RowWriter::csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        m_out.Append(text);
        return;
    }
    m_out.Append('"');
    size_t from = 0;
    for (size_t quote = text.find('"'); quote != std::string_view::npos; quote = text.find('"', from)) {
        m_out.Append(text.substr(from, quote + 1 - from));
        m_out.Append('"');
        from = quote + 1;
    }
    m_out.Append(text.substr(from));
    m_out.Append('"');
}

void RowWriter::jsonString(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    m_scratch.clear();
    m_scratch.push_back('"');
    size_t at = 0;
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '"' || c == '\\') {
            m_scratch.push_back('\\');
            m_scratch.push_back(static_cast<char>(c));
            ++at;
        } else if (c < 0x20 || c == 0x7F) {
            m_scratch.append("\\u00");
            m_scratch.push_back(kHex[c >> 4]);
            m_scratch.push_back(kHex[c & 0xF]);
            ++at;
        } else if (c < 0x80) {
            m_scratch.push_back(static_cast<char>(c));
            ++at;
        } else if (const size_t length = utf8SequenceLength(text, at)) {
            m_scratch.append(text.substr(at, length));
            at += length;
        } else {
            m_scratch.append("\xEF\xBF\xBD"); // U+FFFD for a byte that starts no UTF-8 character
            ++at;
        }
    }
    m_scratch.push_back('"');
    m_out.Append(m_scratch);
}

} // namespace Cli
