#include "scan/NameOrder.h"

#include <QString>

#include <algorithm>

// ASCII is compared in place; from the first byte outside ASCII on, the rest of both names is compared
// as Qt compares texts ignoring case.
int NameOrder::compareIgnoringCase(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if ((ca | cb) & 0x80) {
            const std::string_view restA = a.substr(i);
            const std::string_view restB = b.substr(i);
            return QString::fromUtf8(restA.data(), static_cast<qsizetype>(restA.size()))
                .compare(QString::fromUtf8(restB.data(), static_cast<qsizetype>(restB.size())),
                         Qt::CaseInsensitive);
        }
        const int la = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        const int lb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (la != lb)
            return la - lb;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool NameOrder::less(std::string_view a, std::string_view b)
{
    return lessByText(a, a, b, b);
}

bool NameOrder::lessByText(std::string_view textA, std::string_view rawA, std::string_view textB,
                           std::string_view rawB)
{
    const int order = compareIgnoringCase(textA, textB);
    return order != 0 ? order < 0 : rawA < rawB;
}
