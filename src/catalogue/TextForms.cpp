#include "catalogue/TextForms.h"

#include <QByteArrayView>

#include <cstdint>
#include <cstring>

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr QChar kEllipsis(0x2026);

} // namespace

QString TextForms::fromUtf8(std::string_view utf8)
{
    qsizetype marks = 0;
    while (utf8.starts_with(kUtf8Bom)) {
        utf8.remove_prefix(kUtf8Bom.size());
        ++marks;
    }
    const QString rest = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return marks == 0 ? rest : QString(marks, QChar(0xFEFF)) + rest;
}

namespace {

// Whether the eight bytes at p are all ASCII.
bool asciiWord(const char *p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0x8080808080808080ULL) == 0;
}

} // namespace

bool TextForms::isUtf8(std::string_view bytes)
{
    // Most names, and every size and most dates, are ASCII: those are told eight bytes at a time (the
    // last eight overlapping), and only a text with other bytes goes through the full check (a save
    // checks six texts a record).
    const std::size_t size = bytes.size();
    bool ascii = true;
    if (size >= 8) {
        for (std::size_t i = 0; ascii && i + 8 <= size; i += 8)
            ascii = asciiWord(bytes.data() + i);
        ascii = ascii && asciiWord(bytes.data() + size - 8);
    } else {
        for (const char c : bytes)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    return ascii || QByteArrayView(bytes.data(), static_cast<qsizetype>(size)).isValidUtf8();
}

void TextForms::appendFileName(std::string &out, std::string_view bytes)
{
    if (isUtf8(bytes)) {
        out += bytes;
        return;
    }
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
}

QString TextForms::shown(const QString &text)
{
    if (text.size() <= kShownLength)
        return text;
    qsizetype cut = kShownLength;
    if (text.at(cut - 1).isHighSurrogate())
        --cut; // never half a character
    return text.left(cut) + kEllipsis;
}

QString TextForms::shownUtf8(std::string_view utf8)
{
    // No character takes more than 4 bytes, so this many bytes hold more characters than are shown.
    constexpr std::size_t kEnough = 4 * (kShownLength + 1);
    if (utf8.size() <= kEnough)
        return shown(fromUtf8(utf8));
    std::size_t cut = kEnough;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
        --cut; // at the start of a character
    const QString text = fromUtf8(utf8.substr(0, cut));
    return text.size() > kShownLength ? shown(text) : text + kEllipsis;
}
