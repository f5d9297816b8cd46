#include "db/NameFolding.h"

#include <QChar>

#include <array>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

constexpr std::array<char, 128> makeAsciiFold()
{
    std::array<char, 128> table{};
    for (int c = 0; c < 128; ++c)
        table[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    return table;
}
constexpr std::array<char, 128> kAsciiFold = makeAsciiFold();

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid
// (overlong forms, surrogates and values above U+10FFFF are not valid).
size_t decode(std::string_view text, size_t i, char32_t *codePoint)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length;
    char32_t value;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!isContinuation(byte))
            return 0;
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

void encode(char32_t c, std::string &out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

void SearchText::AppendFolded(std::string_view utf8, std::string &out)
{
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        // A run of ASCII (most names are nothing else) is folded in one go.
        size_t run = i;
        while (run < n && static_cast<unsigned char>(utf8[run]) < 0x80)
            ++run;
        if (run > i) {
            const size_t at = out.size();
            out.resize(at + (run - i));
            for (size_t k = i; k < run; ++k)
                out[at + (k - i)] = kAsciiFold[static_cast<unsigned char>(utf8[k])];
            i = run;
            continue;
        }
        char32_t c = 0;
        const size_t length = decode(utf8, i, &c);
        if (length == 0) {
            out.append(kReplacement);
            ++i;
            continue;
        }
        encode(QChar::toCaseFolded(c), out);
        i += length;
    }
}

std::string SearchText::Folded(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    AppendFolded(utf8, out);
    return out;
}

std::string SearchText::Folded(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return Folded(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

qsizetype SearchText::CharacterCount(std::string_view utf8)
{
    qsizetype count = 0;
    for (char c : utf8) {
        if (!isContinuation(static_cast<unsigned char>(c)))
            ++count;
    }
    return count;
}
