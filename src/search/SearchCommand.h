#pragma once
// The search command: every catalogued file whose name holds the phrase, read row by row from the
// catalogue, with the count known before the first row. It knows no window: it hands the rows to
// its observer and says where a front end yields (after rows 51, 101, 151, ... and once at the end).

#include "catalogue/ListColumns.h"
#include "db/CatalogueError.h"

#include <QString>

#include <array>
#include <string_view>

class SearchObserver
{
public:
    virtual ~SearchObserver() = default;
    // count rows (at least one) match; they follow in the catalogue's order.
    virtual void RowsFound(qint64 count) = 0;
    // Row n (from 1): its six texts in the list's column order, UTF-8, valid during the call.
    virtual void RowRead(qint64 n, const std::array<std::string_view, ListColumns::kCount> &texts) = 0;
    // n rows have been read, the last of them named fileName (valid during the call); a window yields.
    virtual void Yield(qint64 n, std::string_view fileName) = 0;
};

class SearchCommand
{
public:
    enum class Outcome { Listed, NothingFound, Failed };

    explicit SearchCommand(SearchObserver &observer) : m_observer(observer) {}

    // Searches the catalogue at path for the phrase (already trimmed: see SearchPhrase). On failure the
    // rows read before it stay with the observer, and Failure() says what went wrong.
    Outcome Run(const QString &path, const QString &phrase);

    qint64 RowsRead() const { return m_read; }
    const CDatabaseError &Failure() const { return m_failure; }
    // The failure in words for the user.
    QString FailureText() const;

private:
    SearchObserver &m_observer;
    QString m_path;
    qint64 m_read = 0;
    CDatabaseError m_failure;
};
