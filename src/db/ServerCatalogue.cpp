#include "db/ServerCatalogue.h"

#include "catalogue/ListColumns.h"
#include "catalogue/TextForms.h"
#include "catalogue/clsFile.h"
#include "catalogue/clsFileColl.h"
#include "db/CatalogueSave.h"
#include "db/NameFolding.h"

#include <QDateTime>

#include <algorithm>
#include <iterator>
#include <limits>
#include <unordered_map>

#include <sqlite3.h>

namespace {

// The folded names under the trigram index, one row for each row of quillary_file whose disc is not
// waiting. A disc's names come in after it was added, many discs at once (Tidy, check): until then its
// ranges of row IDs wait in quillary_waiting and a search reads those rows from quillary_file, as a catalogue
// file's search reads the rows its index has yet to take. Growing the index as each disc is added would
// make adding half as fast again. The names that do come in go into the index's pending list, which
// searches read as they read the index; autovacuum (set off by every 100,000 names) or check moves
// them into the index proper.
constexpr const char *kNameTable =
    "CREATE TABLE quillary_name (\n"
    "    id bigint PRIMARY KEY,\n"
    "    name_folded text NOT NULL\n"
    ") WITH (autovacuum_vacuum_insert_threshold = 100000, autovacuum_vacuum_insert_scale_factor = 0)";
constexpr const char *kNameIndex = "CREATE INDEX quillary_name_folded ON quillary_name USING gin "
                                   "(name_folded gin_trgm_ops) WITH (gin_pending_list_limit = 262144)";
constexpr const char *kDropNameIndex = "DROP INDEX quillary_name_folded";
constexpr const char *kWaitingTable = "CREATE TABLE quillary_waiting (\n"
                                      "    first bigint PRIMARY KEY,\n"
                                      "    last bigint NOT NULL,\n"
                                      "    disc bigint NOT NULL\n"
                                      ")";
// A disc's ranges of rows waiting for their names ($1 the firsts, $2 the lasts, $3 the disc).
constexpr const char *kDiscWaits =
    "INSERT INTO quillary_waiting (first, last, disc) SELECT unnest($1::bigint[]), unnest($2::bigint[]), $3";
// The rows of a waiting range (w), read through the table's primary key whatever the planner
// estimates (OFFSET 0 keeps the subquery apart): the columns, then the conditions.
std::string waitingRows(const std::string &columns, const std::string &conditions)
{
    return " FROM quillary_waiting AS w CROSS JOIN LATERAL (SELECT " + columns +
           " FROM quillary_file AS f WHERE f.id BETWEEN w.first AND w.last" + conditions + " OFFSET 0) AS f";
}
// Every waiting disc's names brought in, in one statement (one snapshot): the number of names.
const std::string kBringNamesIn =
    "WITH w AS (DELETE FROM quillary_waiting RETURNING first, last), named AS (INSERT INTO quillary_name "
    "(id, name_folded) SELECT f.id, f.name_folded" +
    waitingRows("id, name_folded", "") + " RETURNING 1) SELECT count(*) FROM named";
// The names of a disc's rows (the condition's values as for quillary_file), removed before its rows.
constexpr const char *kDeleteNamesOfRows =
    "DELETE FROM quillary_name WHERE id IN (SELECT id FROM quillary_file WHERE ";
// The rows waiting for their names.
constexpr const char *kWaitingRows = "SELECT coalesce(sum(last - first + 1), 0) FROM quillary_waiting";
// Names that are not those of a row whose disc is not waiting are removed, then names missing are added:
// the number of each.
constexpr const char *kRemoveStrayNames =
    "WITH gone AS (DELETE FROM quillary_name AS n WHERE NOT EXISTS (SELECT 1 FROM quillary_file AS f WHERE "
    "f.id = n.id AND f.name_folded = n.name_folded AND NOT EXISTS (SELECT 1 FROM quillary_waiting AS w "
    "WHERE w.disc = f.disc)) RETURNING 1) SELECT count(*) FROM gone";
constexpr const char *kAddMissingNames =
    "WITH added AS (INSERT INTO quillary_name (id, name_folded) SELECT f.id, f.name_folded FROM "
    "quillary_file AS f WHERE NOT EXISTS (SELECT 1 FROM quillary_name AS n WHERE n.id = f.id) AND NOT "
    "EXISTS (SELECT 1 FROM quillary_waiting AS w WHERE w.disc = f.disc) RETURNING 1) SELECT count(*) FROM "
    "added";
// The version 2 index on quillary_file itself, dropped by the upgrade to version 3.
constexpr const char *kDropVersion2Index = "DROP INDEX IF EXISTS quillary_file_name_folded";

// The content fingerprint of a file whose bytes were read (schema version 2): the 128-bit XXH3 hash of its
// bytes, big-endian. It goes with its row.
constexpr const char *kFingerprintTable =
    "CREATE TABLE IF NOT EXISTS quillary_fingerprint (\n"
    "    row bigint PRIMARY KEY REFERENCES quillary_file (id) ON DELETE CASCADE,\n"
    "    hash bytea NOT NULL\n"
    ")";
constexpr const char *kFingerprintIndex =
    "CREATE INDEX IF NOT EXISTS quillary_fingerprint_hash ON quillary_fingerprint (hash)";

// The catalogue's tables, made by Initialise in one transaction. Columns as in a catalogue file, in
// the list's column order, besides: disc, the number of the disc that owns the row (NULL for rows
// copied from a file that no disc record claimed; kept by the program and checked by check rather than
// by a foreign key, which makes adding slower by half); size_bytes, the size as a number (as SQLite reads
// the text); name_folded, the case-folded name the search compares, filled by this program.
constexpr const char *kSchema[] = {
    "CREATE EXTENSION IF NOT EXISTS pg_trgm",
    "CREATE TABLE quillary_schema (version integer NOT NULL)",
    "CREATE TABLE quillary_disc (\n"
    "    number bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,\n"
    "    label text NOT NULL,\n"
    "    added text NOT NULL,\n"
    "    source_kind text NOT NULL,\n"
    "    source_path text NOT NULL,\n"
    "    identity text\n"
    ")",
    "CREATE INDEX quillary_disc_identity ON quillary_disc (identity)",
    // Row IDs are taken a disc at a time (reserveRows), so each disc's rows are consecutive.
    "CREATE SEQUENCE quillary_file_id",
    "CREATE TABLE quillary_file (\n"
    "    id bigint PRIMARY KEY DEFAULT nextval('quillary_file_id'),\n"
    "    disc bigint,\n"
    "    file_name text,\n"
    "    cd_label text,\n"
    "    file_path text,\n"
    "    file_size text,\n"
    "    last_update_date text,\n"
    "    create_date text,\n"
    "    size_bytes bigint NOT NULL DEFAULT 0,\n"
    "    name_folded text NOT NULL DEFAULT ''\n"
    ") WITH (autovacuum_vacuum_insert_threshold = 100000, autovacuum_vacuum_insert_scale_factor = 0)",
    "ALTER SEQUENCE quillary_file_id OWNED BY quillary_file.id",
    "CREATE INDEX quillary_file_disc ON quillary_file (disc, id)",
    kNameTable,
    kNameIndex,
    kWaitingTable,
    kFingerprintTable,
    kFingerprintIndex,
};

const std::string kRowColumnNames =
    "file_name, cd_label, file_path, file_size, last_update_date, create_date";
const std::string kRowColumns = "SELECT " + kRowColumnNames + " FROM quillary_file";
// The same with each row's fingerprint after them, as 32 hexadecimal digits (NULL where it has none).
constexpr std::string_view kRowColumnsWithFingerprints =
    "SELECT file_name, cd_label, file_path, file_size, last_update_date, create_date, encode(f.hash, 'hex') "
    "FROM quillary_file LEFT JOIN quillary_fingerprint AS f ON f.row = id";
constexpr std::string_view kCopyFingerprints = "COPY quillary_fingerprint (row, hash) FROM STDIN";

// A fingerprint row of COPY data: the hash as bytea's hexadecimal text (its backslash escaped).
void appendFingerprintRow(std::string &out, qint64 row, std::string_view hex)
{
    out += std::to_string(row);
    out += "\t\\\\x";
    out += hex;
    out += '\n';
}
constexpr std::string_view kCopyColumns =
    "COPY quillary_file (id, disc, file_name, cd_label, file_path, "
    "file_size, last_update_date, create_date, size_bytes, name_folded) "
    "FROM STDIN";
// The first key of the program's advisory locks ("QUL").
constexpr const char *kLockKey = "5330252";
// The lock on moving names into quillary_name (the one-number key is apart from the two-number ones):
// held alone by the move, shared by a change of a disc's rows, so that names and rows never cross.
constexpr const char *kLockNamesForMove = "SELECT pg_advisory_xact_lock(5330252)";
constexpr const char *kLockNamesForChange = "SELECT pg_advisory_xact_lock_shared(5330252)";

QString text(const PGresult *result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return {};
    return QString::fromUtf8(PQgetvalue(result, row, column), PQgetlength(result, row, column));
}

std::string_view view(const PGresult *result, int row, int column)
{
    return {PQgetvalue(result, row, column), size_t(PQgetlength(result, row, column))};
}

qint64 integer(const PGresult *result, int row, int column)
{
    return std::strtoll(PQgetvalue(result, row, column), nullptr, 10);
}

PgValue value(const QString &text)
{
    if (text.isNull())
        return std::nullopt;
    return text.toStdString();
}

PgValue value(qint64 number)
{
    return std::to_string(number);
}

// A size as SQLite's CAST(text AS INTEGER) reads it: leading blanks, a sign, then digits (none: 0).
qint64 sizeOf(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        negative = text[at++] == '-';
    qint64 size = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (size > (std::numeric_limits<qint64>::max() - 9) / 10)
            return negative ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
        size = size * 10 + (text[at] - '0');
    }
    return negative ? -size : size;
}

// A value in COPY's text form: backslash, tab, line feed and carriage return escaped.
void appendCopyField(std::string &out, std::string_view value)
{
    for (const char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

// A piece of a file record as a catalogue file stores it (CatalogueSave::insert): a blank for an empty
// text, the text form of one that is not valid UTF-8.
std::string_view storedText(std::string_view value, std::string &scratch)
{
    if (value.empty())
        return " ";
    if (TextForms::isUtf8(value))
        return value;
    scratch = TextForms::fromUtf8(value).toStdString();
    return scratch;
}

// A row of COPY data: the ten columns of kCopyColumns (id empty: its default).
void appendCopyRow(std::string &out, qint64 id, qint64 disc, const std::string_view fields[6])
{
    out += std::to_string(id);
    out += '\t';
    if (disc)
        out += std::to_string(disc);
    else
        out += "\\N";
    for (int column = 0; column < 6; ++column) {
        out += '\t';
        appendCopyField(out, fields[column]);
    }
    out += '\t';
    out += std::to_string(sizeOf(fields[ListColumns::FileSize]));
    out += '\t';
    std::string folded;
    SearchText::AppendFolded(fields[ListColumns::FileName], folded);
    appendCopyField(out, folded);
    out += '\n';
}

// A phrase's literal text in a LIKE pattern (escape character '\').
std::string likeLiteral(std::string_view text, bool wildcards)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\' || (!wildcards && (c == '%' || c == '_')))
            out += '\\';
        out += c;
    }
    return out;
}

// Rows of a statement sent row by row, optionally only those whose name a matcher accepts.
class ServerRows : public CatalogueRows
{
public:
    ServerRows(PgConnection &db, std::unique_ptr<NameMatcher> filter) : m_db(db), m_filter(std::move(filter))
    {}
    ~ServerRows() override { m_db.abandonRows(); }
    bool next() override
    {
        for (;;) {
            bool failed = false;
            m_row = m_db.nextRow(&failed);
            if (!m_row) {
                if (failed)
                    m_error = m_db.error();
                return false;
            }
            if (!m_filter || m_filter->matches(field(ListColumns::FileName)))
                return true;
        }
    }
    std::string_view field(int column) const override
    {
        return m_row ? view(m_row.get(), 0, column) : std::string_view();
    }
    std::string_view fingerprint() const override
    {
        return m_row && PQnfields(m_row.get()) > ListColumns::kCount ? field(ListColumns::kCount)
                                                                     : std::string_view();
    }
    const CDatabaseError &error() const override { return m_error; }

private:
    PgConnection &m_db;
    std::unique_ptr<NameMatcher> m_filter;
    PgResult m_row;
    CDatabaseError m_error;
};

CDatabaseError programError(const char *sqlState, const QString &text)
{
    return {text, SQLITE_ERROR, QString::fromLatin1(sqlState)};
}

// The server must keep the catalogue in UTF-8: in another encoding "_" would not be one character.
bool isUtf8(PgConnection &db, CDatabaseError *error)
{
    const char *encoding = PQparameterStatus(db.handle(), "server_encoding");
    if (encoding && qstrcmp(encoding, "UTF8") == 0)
        return true;
    *error =
        programError("QY003", QStringLiteral("server_encoding is %1").arg(QString::fromLatin1(encoding)));
    return false;
}

} // namespace

std::unique_ptr<CatalogueStore> ServerCatalogue::Connect(const QString &name, Access access,
                                                         CDatabaseError *error)
{
    std::unique_ptr<ServerCatalogue> store(new ServerCatalogue(PgDisplayName(name)));
    if (!store->m_db.open(name)) {
        *error = store->m_db.error();
        return nullptr;
    }
    if (!isUtf8(store->m_db, error))
        return nullptr;
    qint64 version = 0;
    if (!store->m_db.integer("SELECT max(version) FROM quillary_schema", {}, &version)) {
        *error = store->m_db.error();
        return nullptr;
    }
    store->m_version = int(version);
    // The catalogue's statements are short: compiling one costs more than it saves (a search is costed
    // high for the ranges of rows that wait for the index, whose number the planner cannot know).
    if (!store->m_db.run("SET jit = off")) {
        *error = store->m_db.error();
        return nullptr;
    }
    if (version > kSchemaVersion) {
        *error = programError(
            "QY001",
            QStringLiteral("schema version %1; this program knows %2").arg(version).arg(kSchemaVersion));
        return nullptr;
    }
    if (version < kSchemaVersion && access != Access::Upgrade) {
        *error = programError(
            "QY002",
            QStringLiteral("schema version %1; this program works on %2").arg(version).arg(kSchemaVersion));
        return nullptr;
    }
    return store;
}

bool ServerCatalogue::Initialise(const QString &name, QString *outcome, CDatabaseError *error)
{
    PgConnection db;
    if (!db.open(name)) {
        *error = db.error();
        return false;
    }
    if (!isUtf8(db, error))
        return false;
    qint64 there = 0;
    if (!db.integer("SELECT count(*) FROM pg_catalog.pg_class WHERE oid = to_regclass('quillary_schema')", {},
                    &there)) {
        *error = db.error();
        return false;
    }
    if (there) {
        *error = programError("QY004", QStringLiteral("the table quillary_schema exists"));
        return false;
    }
    bool made = db.run("BEGIN");
    for (const char *statement : kSchema)
        made = made && db.run(statement);
    made = made &&
           db.run("INSERT INTO quillary_schema (version) VALUES ($1)", {value(qint64(kSchemaVersion))}) &&
           db.run("COMMIT");
    if (!made) {
        *error = db.error();
        return false;
    }
    *outcome = QStringLiteral("made the catalogue's tables (schema version %1) in %2")
                   .arg(kSchemaVersion)
                   .arg(PgDisplayName(name));
    return true;
}

bool ServerCatalogue::inTransaction(const std::function<bool()> &work)
{
    if (!m_db.run("BEGIN"))
        return false;
    if (work() && m_db.run("COMMIT"))
        return true;
    // The failure's reason stays: the ROLLBACK's own outcome is not recorded.
    const CDatabaseError reason = m_db.error();
    m_db.run("ROLLBACK");
    m_db.setError(reason);
    return false;
}

bool ServerCatalogue::BeginRead()
{
    return m_db.run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
}

void ServerCatalogue::EndRead()
{
    m_db.run("COMMIT");
}

std::string ServerCatalogue::discCondition(const Disc &disc, int first, std::vector<PgValue> *values)
{
    if (disc.recorded()) {
        values->push_back(value(disc.number));
        return "disc = $" + std::to_string(first);
    }
    values->push_back(value(disc.ranges.empty() ? 1 : disc.ranges.front().first));
    values->push_back(value(disc.ranges.empty() ? 0 : disc.ranges.back().second));
    return "disc IS NULL AND id BETWEEN $" + std::to_string(first) + " AND $" + std::to_string(first + 1);
}

std::unique_ptr<CatalogueRows> ServerCatalogue::OpenRows(const Disc *disc)
{
    std::vector<PgValue> values;
    std::string sql(kRowColumnsWithFingerprints);
    if (disc)
        sql += " WHERE " + discCondition(*disc, 1, &values);
    sql += " ORDER BY id";
    if (!m_db.sendRowByRow(sql, values))
        return NoRows(m_db.error());
    return std::make_unique<ServerRows>(m_db, nullptr);
}

std::unique_ptr<CatalogueRows> ServerCatalogue::Find(std::unique_ptr<NameMatcher> matcher, const Disc *disc)
{
    std::vector<PgValue> values;
    std::vector<std::string> patterns; // conditions on a column of folded names, the column written "?"
    bool scan = true;
    if (!matcher->matchesEverything()) {
        // The folded phrase as a LIKE pattern on the folded names: the same rule as the matcher's. A
        // rule that is no phrase is narrowed by its literal runs and then asked about each name.
        const std::string phrase = matcher->wildcardPhrase();
        if (!phrase.empty()) {
            values.push_back('%' + likeLiteral(phrase, true) + '%');
            patterns.push_back("? LIKE $1");
        } else {
            for (const std::string &run : matcher->literalRuns(1)) {
                values.push_back('%' + likeLiteral(run, false) + '%');
                patterns.push_back("? LIKE $" + std::to_string(values.size()));
            }
        }
        // Without three characters in a row the trigram index has nothing to look up: every name is
        // read in table order instead.
        scan = matcher->literalRuns(3).empty();
        if (!phrase.empty())
            matcher.reset();
    } else {
        matcher.reset();
    }
    // The patterns on a column, each after " AND ".
    const auto matching = [&](const char *column) {
        std::string conditions;
        for (const std::string &pattern : patterns)
            conditions += " AND " + std::string(column) + pattern.substr(1);
        return conditions;
    };
    std::string sql;
    if (scan || disc) {
        // Every row, or one disc's through the index of discs.
        const std::string conditions =
            (disc ? " AND " + discCondition(*disc, int(values.size()) + 1, &values) : "") +
            matching("name_folded");
        sql = kRowColumns + (conditions.empty() ? "" : " WHERE" + conditions.substr(4));
    } else {
        // The rows of the names under the index, and the rows waiting for theirs.
        const std::string columns = "f.id, " + kRowColumnNames;
        sql = "SELECT " + kRowColumnNames + " FROM (SELECT " + columns +
              " FROM quillary_name AS n JOIN quillary_file AS f ON f.id = n.id WHERE" +
              matching("n.name_folded").substr(4) + " UNION ALL SELECT " + columns +
              waitingRows(columns, matching("f.name_folded")) + ") AS f";
    }
    sql += " ORDER BY id";
    if (!m_db.sendRowByRow(sql, values))
        return NoRows(m_db.error());
    return std::make_unique<ServerRows>(m_db, std::move(matcher));
}

bool ServerCatalogue::ListDiscs(std::vector<Disc> *discs)
{
    return listDiscs(nullptr, discs);
}

bool ServerCatalogue::ListDiscsNamed(const QString &name, std::vector<Disc> *discs)
{
    return listDiscs(&name, discs);
}

bool ServerCatalogue::listDiscs(const QString *name, std::vector<Disc> *discs)
{
    discs->clear();
    // Every disc's rows counted in one pass over the table; a few named ones through the index of discs.
    const PgResult records =
        name ? m_db.exec(
                   "SELECT d.number, d.label, d.added, d.source_kind, d.source_path, d.identity, f.files, "
                   "f.bytes, f.first, f.last FROM quillary_disc AS d CROSS JOIN LATERAL (SELECT count(*), "
                   "coalesce(sum(size_bytes), 0)::bigint, min(id), max(id) FROM quillary_file WHERE disc = "
                   "d.number) AS f (files, bytes, first, last) WHERE (d.number::text = $1 OR d.label = $1) "
                   "AND f.files > 0 ORDER BY f.first",
                   {value(*name)})
             : m_db.exec(
                   "SELECT d.number, d.label, d.added, d.source_kind, d.source_path, d.identity, f.files, "
                   "f.bytes, f.first, f.last FROM quillary_disc AS d JOIN (SELECT disc, count(*), "
                   "sum(size_bytes)::bigint, min(id), max(id) FROM quillary_file WHERE disc IS NOT NULL "
                   "GROUP BY disc) AS f (disc, files, bytes, first, last) ON f.disc = d.number ORDER BY "
                   "f.first");
    if (!records)
        return false;
    std::vector<Disc> recorded;
    for (int row = 0; row < PQntuples(records.get()); ++row) {
        Disc disc;
        disc.number = integer(records.get(), row, 0);
        disc.label = view(records.get(), row, 1);
        disc.added = text(records.get(), row, 2);
        disc.sourceKind = text(records.get(), row, 3);
        disc.sourcePath = text(records.get(), row, 4);
        disc.identity = text(records.get(), row, 5);
        disc.files = integer(records.get(), row, 6);
        disc.bytes = integer(records.get(), row, 7);
        disc.firstRow = integer(records.get(), row, 8);
        disc.ranges = {{disc.firstRow, integer(records.get(), row, 9)}};
        recorded.push_back(std::move(disc));
    }
    // Rows no record claims (copied from a file that had them): runs of consecutive rows of one label.
    qint64 unclaimed = 0;
    if (!m_db.integer("SELECT count(*) FROM (SELECT 1 FROM quillary_file WHERE disc IS NULL LIMIT 1) AS t",
                      {}, &unclaimed))
        return false;
    std::vector<Disc> runs;
    if (unclaimed) {
        const PgResult result = m_db.exec(
            "SELECT min(id), max(id), cd_label, count(*), sum(size_bytes)::bigint FROM (SELECT id, cd_label, "
            "size_bytes, disc, row_number() OVER (ORDER BY id) - row_number() OVER (PARTITION BY disc IS "
            "NULL, "
            "cd_label ORDER BY id) AS run FROM quillary_file) AS t WHERE disc IS NULL GROUP BY cd_label, run "
            "ORDER BY 1");
        if (!result)
            return false;
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            Disc disc;
            disc.firstRow = integer(result.get(), row, 0);
            disc.ranges = {{disc.firstRow, integer(result.get(), row, 1)}};
            disc.label = view(result.get(), row, 2);
            disc.files = integer(result.get(), row, 3);
            disc.bytes = integer(result.get(), row, 4);
            if (!name || disc.label == name->toStdString())
                runs.push_back(std::move(disc));
        }
    }
    discs->reserve(recorded.size() + runs.size());
    std::merge(std::make_move_iterator(recorded.begin()), std::make_move_iterator(recorded.end()),
               std::make_move_iterator(runs.begin()), std::make_move_iterator(runs.end()),
               std::back_inserter(*discs),
               [](const Disc &a, const Disc &b) { return a.firstRow < b.firstRow; });
    return true;
}

qint64 ServerCatalogue::DiscWithIdentity(const QString &identity)
{
    qint64 number = 0;
    if (!m_db.integer("SELECT coalesce(min(d.number), 0) FROM quillary_disc AS d WHERE d.identity = $1 AND "
                      "EXISTS (SELECT 1 FROM quillary_file AS f WHERE f.disc = d.number)",
                      {value(identity)}, &number))
        return -1;
    return number;
}

bool ServerCatalogue::FindDuplicates(std::vector<Duplicate> *duplicates, bool byContent)
{
    duplicates->clear();
    std::vector<Disc> discs;
    if (!ListDiscs(&discs))
        return false;
    std::unordered_map<qint64, const Disc *> byNumber;
    std::vector<const Disc *> runs; // by first row
    for (const Disc &disc : discs) {
        if (disc.recorded())
            byNumber.emplace(disc.number, &disc);
        else
            runs.push_back(&disc);
    }
    const auto runOf = [&](qint64 row) -> const Disc * {
        auto at = std::upper_bound(runs.begin(), runs.end(), row,
                                   [](qint64 value, const Disc *run) { return value < run->firstRow; });
        if (at == runs.begin())
            return nullptr;
        --at;
        return row <= (*at)->ranges.back().second ? *at : nullptr;
    };
    // Names in byte order, as a catalogue file orders them.
    if (byContent ? !m_db.sendRowByRow(
                        "SELECT q.id, q.disc, q.file_name, q.size_bytes, q.file_path, encode(f.hash, 'hex') "
                        "FROM (SELECT row, hash, count(*) OVER (PARTITION BY hash) AS copies FROM "
                        "quillary_fingerprint) AS f JOIN quillary_file AS q ON q.id = f.row WHERE f.copies > "
                        "1 ORDER BY q.size_bytes DESC, f.hash, f.row")
                  : !m_db.sendRowByRow("SELECT id, disc, file_name, size_bytes, file_path FROM (SELECT id, "
                                       "disc, file_name, size_bytes, "
                                       "file_path, count(*) OVER (PARTITION BY file_name, size_bytes) AS "
                                       "copies FROM quillary_file "
                                       "WHERE "
                                       "file_name IS NOT NULL) AS t WHERE copies > 1 ORDER BY size_bytes "
                                       "DESC, file_name COLLATE \"C\", "
                                       "id"))
        return false;
    Duplicate group;
    std::vector<const Disc *> groupDiscs;
    const auto finish = [&] {
        std::sort(groupDiscs.begin(), groupDiscs.end());
        if (std::unique(groupDiscs.begin(), groupDiscs.end()) - groupDiscs.begin() > 1)
            duplicates->push_back(std::move(group));
        group = {};
        groupDiscs.clear();
    };
    bool failed = false;
    while (const PgResult row = m_db.nextRow(&failed)) {
        const std::string_view name = view(row.get(), 0, 2);
        const qint64 size = integer(row.get(), 0, 3);
        const std::string_view fingerprint = byContent ? view(row.get(), 0, 5) : std::string_view();
        if (!group.copies.empty() &&
            (byContent ? group.fingerprint != fingerprint : group.name != name || group.size != size))
            finish();
        if (group.copies.empty()) {
            group.name = name;
            group.size = size;
            group.fingerprint = fingerprint;
        }
        const Disc *disc = nullptr;
        if (!PQgetisnull(row.get(), 0, 1)) {
            const auto at = byNumber.find(integer(row.get(), 0, 1));
            disc = at == byNumber.end() ? nullptr : at->second;
        } else {
            disc = runOf(integer(row.get(), 0, 0));
        }
        groupDiscs.push_back(disc);
        group.copies.push_back({disc ? disc->number : 0, disc ? disc->label : std::string(),
                                std::string(view(row.get(), 0, 4))});
    }
    if (failed)
        return false;
    if (!group.copies.empty())
        finish();
    return true;
}

bool ServerCatalogue::RemoveDiscs(const QStringList &names, std::vector<Disc> *removed, QString *problem)
{
    removed->clear();
    problem->clear();
    return inTransaction([&] {
        for (const QString &name : names) {
            Disc disc;
            if (!FindDisc(name, &disc, problem))
                return false;
            if (std::none_of(removed->begin(), removed->end(),
                             [&](const Disc &done) { return done.firstRow == disc.firstRow; }))
                removed->push_back(std::move(disc));
        }
        if (!m_db.run(kLockNamesForChange))
            return false;
        for (const Disc &disc : *removed) {
            std::vector<PgValue> values;
            const std::string condition = discCondition(disc, 1, &values);
            if (!m_db.run(kDeleteNamesOfRows + condition + ')', values) ||
                !m_db.run("DELETE FROM quillary_file WHERE " + condition, values))
                return false;
            if (disc.recorded() &&
                !(m_db.run("DELETE FROM quillary_waiting WHERE disc = $1", {value(disc.number)}) &&
                  m_db.run("DELETE FROM quillary_disc WHERE number = $1", {value(disc.number)})))
                return false;
        }
        return true;
    });
}

bool ServerCatalogue::RenameDisc(const QString &name, const QString &label, Disc *renamed, QString *problem)
{
    problem->clear();
    return inTransaction([&] {
        if (!FindDisc(name, renamed, problem))
            return false;
        // The path is stored as "LABEL: dir/file": its label part is the row's label.
        std::vector<PgValue> values{value(label)};
        if (!m_db.run("UPDATE quillary_file SET cd_label = $1, file_path = CASE WHEN left(file_path, "
                      "length(cd_label)) = cd_label THEN $1 || substr(file_path, length(cd_label) + 1) ELSE "
                      "file_path END WHERE " +
                          discCondition(*renamed, 2, &values),
                      values))
            return false;
        return !renamed->recorded() || m_db.run("UPDATE quillary_disc SET label = $2 WHERE number = $1",
                                                {value(renamed->number), value(label)});
    });
}

bool ServerCatalogue::ReadDiscFiles(const Disc &disc, std::vector<StoredFile> *files)
{
    files->clear();
    std::vector<PgValue> values;
    if (!m_db.sendRowByRow(
            "SELECT id, file_path, file_size, last_update_date, create_date, encode(f.hash, 'hex') "
            "FROM quillary_file LEFT JOIN quillary_fingerprint AS f ON f.row = id WHERE " +
                discCondition(disc, 1, &values) + " ORDER BY id",
            values))
        return false;
    bool failed = false;
    while (const PgResult row = m_db.nextRow(&failed)) {
        StoredFile file{integer(row.get(), 0, 0),           std::string(view(row.get(), 0, 1)),
                        std::string(view(row.get(), 0, 2)), std::string(view(row.get(), 0, 3)),
                        std::string(view(row.get(), 0, 4)), std::nullopt};
        const QByteArray hash = QByteArray::fromHex(QByteArray(PQgetvalue(row.get(), 0, 5)));
        if (hash.size() == qsizetype(sizeof(Fingerprint::bytes))) {
            file.fingerprint.emplace();
            std::copy(hash.begin(), hash.end(), file.fingerprint->bytes.begin());
        }
        files->push_back(std::move(file));
    }
    return !failed;
}

bool ServerCatalogue::StoreFingerprints(const std::vector<std::pair<qint64, Fingerprint>> &fingerprints)
{
    // A thousand rows a statement, as arrays.
    return inTransaction([&] {
        for (size_t at = 0; at < fingerprints.size(); at += 1000) {
            std::string rows = "{", hashes = "{";
            for (size_t i = at; i < std::min(fingerprints.size(), at + 1000); ++i) {
                rows += (i > at ? "," : "") + std::to_string(fingerprints[i].first);
                hashes += (i > at ? "," : "") + fingerprints[i].second.hex();
            }
            if (!m_db.run(
                    "INSERT INTO quillary_fingerprint (row, hash) SELECT r, decode(h, 'hex') FROM "
                    "unnest($1::bigint[], $2::text[]) AS t (r, h) ON CONFLICT (row) DO UPDATE SET hash = "
                    "EXCLUDED.hash",
                    {rows + '}', hashes + '}'}))
                return false;
        }
        return true;
    });
}

bool ServerCatalogue::ReadyToAdd(CDatabaseError *error)
{
    // A role that may only read is told so before any disc is read.
    const PgResult result =
        m_db.exec("SELECT current_user, has_table_privilege('quillary_file', 'INSERT') AND "
                  "has_table_privilege('quillary_disc', 'INSERT') AND "
                  "has_sequence_privilege('quillary_file_id', 'UPDATE') AND "
                  "has_table_privilege('quillary_fingerprint', 'INSERT') AND "
                  "has_table_privilege('quillary_waiting', 'INSERT')");
    if (!result) {
        *error = m_db.error();
        return false;
    }
    if (view(result.get(), 0, 1) == "t")
        return true;
    *error =
        programError("42501", QStringLiteral("the role %1 may not add rows to quillary_file, quillary_disc, "
                                             "quillary_fingerprint and quillary_waiting, or take row IDs "
                                             "from quillary_file_id")
                                  .arg(text(result.get(), 0, 0)));
    return false;
}

bool ServerCatalogue::reserveRows(qint64 count, qint64 *first)
{
    // Under a lock of the program's own, held for this short transaction only: the IDs of two discs
    // stored at once never interleave.
    qint64 last = 0;
    const bool reserved = inTransaction([&] {
        return m_db.run(std::string("SELECT pg_advisory_xact_lock(") + kLockKey + ", 0)") &&
               m_db.integer("SELECT setval('quillary_file_id', nextval('quillary_file_id') + $1 - 1)",
                            {value(count)}, &last);
    });
    *first = last - count + 1;
    return reserved;
}

bool ServerCatalogue::StoreDisc(const DiscRecord &record, const clsFileColl &files,
                                const std::vector<std::optional<Fingerprint>> *fingerprints,
                                const Disc *replacing, bool refuseCatalogued, SaveObserver &observer,
                                Stored *stored)
{
    *stored = {};
    const qint32 n = files.Count();
    const auto failed = [&] {
        stored->saved = 0;
        stored->number = 0;
        stored->failure = m_db.error();
        stored->failureText = DescribeCatalogueError(m_db.error(), m_name, CatalogueTask::Saving);
        return false;
    };
    qint64 first = 0;
    if (n > 0 && !reserveRows(n, &first))
        return failed();
    QString label = record.label;
    if (label.isEmpty() && n > 0) {
        const std::string_view own = files.Item(1).CDLabelNameUtf8();
        label = own.empty() ? QStringLiteral(" ") : TextForms::fromUtf8(own);
    }
    const QString added = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    qint64 number = 0;
    bool refused = false;
    const bool committed = inTransaction([&] {
        // Two machines storing the same medium wait for each other here; the second then finds the
        // first's disc.
        const QString medium = record.identity.isNull() ? QStringLiteral("label ") + label
                                                        : QStringLiteral("identity ") + record.identity;
        if (!m_db.run(std::string("SELECT pg_advisory_xact_lock(") + kLockKey + ", hashtext($1))",
                      {value(medium)}))
            return false;
        m_db.setError({});
        if (refuseCatalogued && !replacing && FindCatalogued(record.identity, label, files, &stored->there)) {
            refused = true;
            return false;
        }
        if (m_db.error().isSet())
            return false;
        const std::vector<PgValue> facts{value(label), value(added), value(record.sourceKind),
                                         value(record.sourcePath), value(record.identity)};
        // A disc replaced keeps its place: the new files take its rows' IDs in order (those beyond them
        // new IDs at the end), as in a catalogue file.
        std::vector<qint64> kept;
        if (replacing) {
            std::vector<PgValue> values;
            const std::string condition = discCondition(*replacing, 1, &values);
            const std::string rows = " FROM quillary_file WHERE " + condition;
            const PgResult old = m_db.exec("SELECT id" + rows + " ORDER BY id", values);
            if (!old || !m_db.run(kLockNamesForChange) ||
                !m_db.run(kDeleteNamesOfRows + condition + ')', values) ||
                !m_db.run("DELETE" + rows, values) ||
                (replacing->recorded() &&
                 !m_db.run("DELETE FROM quillary_waiting WHERE disc = $1", {value(replacing->number)})))
                return false;
            for (int row = 0; row < PQntuples(old.get()); ++row)
                kept.push_back(integer(old.get(), row, 0));
        }
        if (replacing && replacing->recorded()) {
            number = replacing->number;
            std::vector<PgValue> values = facts;
            values.push_back(value(number));
            if (!m_db.run(
                    "UPDATE quillary_disc SET label = $1, added = $2, source_kind = $3, source_path = $4, "
                    "identity = $5 WHERE number = $6",
                    values))
                return false;
        } else if (!m_db.integer(
                       "INSERT INTO quillary_disc (label, added, source_kind, source_path, identity) "
                       "VALUES ($1, $2, $3, $4, $5) RETURNING number",
                       facts, &number)) {
            return false;
        }
        if (n == 0)
            return true;
        if (!m_db.copyStart(kCopyColumns))
            return false;
        std::string data;
        std::string hashes; // the fingerprints' COPY data, sent after the rows
        std::string path, scratch[6];
        std::string firsts, lasts; // the disc's ranges of IDs, as arrays
        qint64 last = -1;
        for (qint32 i = 1; i <= n; ++i) {
            const clsFile &file = files.Item(i);
            observer.RecordStarting(i, file);
            const std::string_view fields[6] = {storedText(file.FileNameUtf8(), scratch[0]),
                                                storedText(file.CDLabelNameUtf8(), scratch[1]),
                                                storedText(file.FilePathUtf8(path), scratch[2]),
                                                storedText(file.FileSizeUtf8(), scratch[3]),
                                                storedText(file.LastUpdateDateUtf8(), scratch[4]),
                                                storedText(file.CreateDateUtf8(), scratch[5])};
            const size_t at = size_t(i - 1);
            const qint64 id = at < kept.size() ? kept[at] : first + qint64(at - kept.size());
            appendCopyRow(data, id, number, fields);
            if (id != last + 1) {
                firsts += (firsts.empty() ? "{" : "") + std::to_string(id) + ',';
                if (last >= 0)
                    lasts += (lasts.empty() ? "{" : "") + std::to_string(last) + ',';
            }
            last = id;
            if (fingerprints && at < fingerprints->size() && (*fingerprints)[at])
                appendFingerprintRow(hashes, id, (*fingerprints)[at]->hex());
            if (data.size() >= (256 << 10)) {
                if (!m_db.copySend(data))
                    return false;
                data.clear();
            }
            observer.RecordDone(i);
        }
        firsts.back() = '}';
        lasts += (lasts.empty() ? "{" : "") + std::to_string(last) + '}';
        if (!(data.empty() || m_db.copySend(data)) || !m_db.copyEnd() ||
            !m_db.run(kDiscWaits, {firsts, lasts, value(number)}))
            return false;
        return hashes.empty() ||
               (m_db.copyStart(kCopyFingerprints) && m_db.copySend(hashes) && m_db.copyEnd());
    });
    if (refused) {
        stored->refused = true;
        return true;
    }
    if (!committed)
        return failed();
    stored->saved = n;
    stored->number = number;
    return true;
}

bool ServerCatalogue::IsCatalogue(CDatabaseError *)
{
    return true; // the connection checked the schema
}

bool ServerCatalogue::Integrity(QStringList *problems, CDatabaseError *error)
{
    problems->clear();
    const PgResult result = m_db.exec(
        "SELECT indexrelid::regclass::text FROM pg_catalog.pg_index WHERE indrelid IN "
        "(to_regclass('quillary_file'), to_regclass('quillary_disc'), to_regclass('quillary_name')) "
        "AND NOT indisvalid");
    if (!result) {
        *error = m_db.error();
        return false;
    }
    for (int row = 0; row < PQntuples(result.get()); ++row)
        *problems << QStringLiteral("the index %1 is not valid (REINDEX rebuilds it)")
                         .arg(text(result.get(), row, 0));
    qint64 orphans = 0;
    if (!m_db.integer(
            "SELECT count(*) FROM quillary_file AS f WHERE f.disc IS NOT NULL AND NOT EXISTS (SELECT 1 "
            "FROM quillary_disc AS d WHERE d.number = f.disc)",
            {}, &orphans)) {
        *error = m_db.error();
        return false;
    }
    if (orphans)
        *problems << QStringLiteral("%1 rows belong to discs that are not recorded").arg(orphans);
    return true;
}

void ServerCatalogue::Tidy(const std::function<void()> &working)
{
    qint64 waiting = 0;
    if (!m_db.integer(kWaitingRows, {}, &waiting) || waiting <= kIndexBacklogRows)
        return;
    if (working)
        working();
    qint64 moved = 0;
    inTransaction([&] { return bringNamesIn(&moved); });
}

bool ServerCatalogue::bringNamesIn(qint64 *moved)
{
    return m_db.run(kLockNamesForMove) && m_db.integer(kBringNamesIn, {}, moved);
}

CatalogueCheck::Index ServerCatalogue::CompleteIndex(CDatabaseError *error, QString *finding)
{
    using Index = CatalogueCheck::Index;
    // Each folded name compared with its name folded again (another program may have changed names).
    std::vector<std::pair<qint64, std::string>> wrong;
    if (!m_db.sendRowByRow("SELECT id, file_name, name_folded FROM quillary_file ORDER BY id")) {
        *error = m_db.error();
        return Index::Failed;
    }
    bool failed = false;
    std::string folded;
    while (const PgResult row = m_db.nextRow(&failed)) {
        folded.clear();
        SearchText::AppendFolded(view(row.get(), 0, 1), folded);
        if (folded != view(row.get(), 0, 2))
            wrong.emplace_back(integer(row.get(), 0, 0), folded);
    }
    qint64 indexThere = 0;
    if (failed || !m_db.integer("SELECT count(*) FROM pg_catalog.pg_class WHERE oid = "
                                "to_regclass('quillary_name_folded')",
                                {}, &indexThere)) {
        *error = m_db.error();
        return Index::Failed;
    }
    // The waiting discs' names come in; then the names are compared with the rows.
    qint64 moved = 0, stray = 0, missing = 0;
    const bool done = inTransaction([&] {
        for (const auto &[id, name] : wrong) {
            if (!m_db.run("UPDATE quillary_file SET name_folded = $2 WHERE id = $1", {value(id), name}) ||
                !m_db.run("UPDATE quillary_name SET name_folded = $2 WHERE id = $1", {value(id), name}))
                return false;
        }
        return bringNamesIn(&moved) && m_db.integer(kRemoveStrayNames, {}, &stray) &&
               m_db.integer(kAddMissingNames, {}, &missing) && (indexThere || m_db.run(kNameIndex));
    });
    if (!done) {
        *error = m_db.error();
        return Index::Failed;
    }
    QStringList found;
    if (!wrong.empty())
        found << QStringLiteral("%1 folded names differed from their names").arg(wrong.size());
    if (stray > 0)
        found << QStringLiteral("%1 names in the index were of no row").arg(stray);
    if (missing > 0)
        found << QStringLiteral("%1 names were missing from the index").arg(missing);
    if (!indexThere)
        found << QStringLiteral("the trigram index was missing");
    if (!found.isEmpty()) {
        *finding = found.join(QStringLiteral(", "));
        return Index::Rebuilt;
    }
    // Names waiting in the index's pending list go into the index proper (only the tables' owner may:
    // for another role they wait for autovacuum, and are searched all the same).
    qint64 pages = 0;
    if (!m_db.integer("SELECT gin_clean_pending_list('quillary_name_folded')", {}, &pages))
        pages = 0;
    return moved > 0 || pages > 0 ? Index::BroughtUpToDate : Index::UpToDate;
}

bool ServerCatalogue::UpgradeSchema(QString *outcome, CDatabaseError *error)
{
    if (m_version == kSchemaVersion) {
        *outcome = QStringLiteral("schema: version %1, up to date").arg(kSchemaVersion);
        return true;
    }
    // Each step brings the schema from one version to the next; all of them in one transaction.
    // Under the schema row's lock: a second machine upgrading at the same time waits, then finds the
    // schema up to date.
    qint64 from = m_version;
    const bool done = inTransaction([&] {
        if (!m_db.integer("SELECT version FROM quillary_schema FOR UPDATE", {}, &from))
            return false;
        // Each schema after the first adds its step here, run when from is older.
        if (from < 2 && !(m_db.run(kFingerprintTable) && m_db.run(kFingerprintIndex)))
            return false;
        if (from < 3 && !upgradeToNameTable())
            return false;
        return m_db.run("UPDATE quillary_schema SET version = $1", {value(qint64(kSchemaVersion))});
    });
    if (!done) {
        *error = m_db.error();
        return false;
    }
    m_version = kSchemaVersion;
    *outcome = QStringLiteral("schema: upgraded from version %1 to %2").arg(from).arg(kSchemaVersion);
    return true;
}

bool ServerCatalogue::upgradeToNameTable()
{
    // The names move from the index on quillary_file to a table of their own; the roles keep what they
    // may do: read both new tables where they read quillary_file, add to them where they add to it (and
    // take a disc off the waiting list), remove from them where they remove from it.
    if (!(m_db.run(kNameTable) && m_db.run(kWaitingTable) &&
          m_db.run("INSERT INTO quillary_name (id, name_folded) SELECT id, name_folded FROM quillary_file") &&
          m_db.run("SET LOCAL maintenance_work_mem = '256MB'") && m_db.run(kNameIndex) &&
          m_db.run(kDropVersion2Index)))
        return false;
    const PgResult grants = m_db.exec(
        "SELECT CASE WHEN grantee = 'PUBLIC' THEN grantee ELSE quote_ident(grantee) END, privilege_type "
        "FROM information_schema.role_table_grants WHERE table_schema = current_schema() AND table_name = "
        "'quillary_file' AND privilege_type IN ('SELECT', 'INSERT', 'DELETE') AND grantee <> current_user");
    if (!grants)
        return false;
    for (int row = 0; row < PQntuples(grants.get()); ++row) {
        const std::string role(view(grants.get(), row, 0));
        const std::string right(view(grants.get(), row, 1));
        const std::string waiting = right == "INSERT" ? "INSERT, DELETE" : right;
        if (!m_db.run("GRANT " + right + " ON quillary_name TO " + role) ||
            !m_db.run("GRANT " + waiting + " ON quillary_waiting TO " + role))
            return false;
    }
    return true;
}

bool ServerCatalogue::IsEmpty(bool *empty)
{
    qint64 any = 0;
    if (!m_db.integer(
            "SELECT count(*) FROM (SELECT 1 FROM quillary_file UNION ALL SELECT 1 FROM quillary_disc "
            "LIMIT 1) AS t",
            {}, &any))
        return false;
    *empty = any == 0;
    return true;
}

bool ServerCatalogue::BeginCopy()
{
    // Building the trigram index once at the end is several times faster than growing it row by row. Only
    // the tables' owner may drop it; for another role the index grows as the rows come.
    m_indexDropped = false;
    if (!m_db.run("BEGIN") || !m_db.run("SAVEPOINT quillary_copy"))
        return false;
    m_indexDropped = m_db.run(kDropNameIndex);
    return m_db.run(m_indexDropped ? "RELEASE quillary_copy" : "ROLLBACK TO quillary_copy");
}

bool ServerCatalogue::CopyDisc(const Disc &disc, CatalogueRows &rows, qint64 *copied)
{
    *copied = 0;
    if (disc.recorded() &&
        !m_db.run(
            "INSERT INTO quillary_disc (number, label, added, source_kind, source_path, identity) VALUES "
            "($1, $2, $3, $4, $5, $6)",
            {value(disc.number), disc.label, value(disc.added), value(disc.sourceKind),
             value(disc.sourcePath), value(disc.identity)}))
        return false;
    qint64 first = 0;
    if (disc.files > 0 &&
        !m_db.integer("SELECT setval('quillary_file_id', nextval('quillary_file_id') + $1 - 1)",
                      {value(disc.files)}, &first))
        return false;
    first -= disc.files - 1;
    if (!m_db.copyStart(kCopyColumns))
        return false;
    std::string data;
    std::string hashes;
    while (rows.next()) {
        if (*copied == disc.files) { // more rows than counted: the counts differ, the copy fails
            ++*copied;
            break;
        }
        const std::string_view fields[6] = {rows.field(0), rows.field(1), rows.field(2),
                                            rows.field(3), rows.field(4), rows.field(5)};
        appendCopyRow(data, first + *copied, disc.number, fields);
        if (rows.fingerprint().size() == 2 * sizeof(Fingerprint::bytes))
            appendFingerprintRow(hashes, first + *copied, rows.fingerprint());
        ++*copied;
        if (data.size() >= (256 << 10)) {
            if (!m_db.copySend(data))
                return false;
            data.clear();
        }
    }
    if (!(data.empty() || m_db.copySend(data)) || !m_db.copyEnd())
        return false;
    return hashes.empty() || (m_db.copyStart(kCopyFingerprints) && m_db.copySend(hashes) && m_db.copyEnd());
}

bool ServerCatalogue::EndCopy(bool commit)
{
    if (!commit)
        return m_db.run("ROLLBACK");
    // The copy went into an empty catalogue: every row's name comes in (but those of a disc another
    // machine added meanwhile, which wait as it left them).
    if (!m_db.run(kAddMissingNames) ||
        (m_indexDropped && !(m_db.run("SET LOCAL maintenance_work_mem = '256MB'") && m_db.run(kNameIndex))))
        return false;
    if (!m_db.run(
            "SELECT setval(pg_get_serial_sequence('quillary_disc', 'number'), coalesce(max(number), 0) + "
            "1, false) FROM quillary_disc") ||
        !m_db.run("COMMIT"))
        return false;
    // Figures for the planner at once (a role that does not own the tables is skipped, silently).
    m_db.run("ANALYZE quillary_file, quillary_disc, quillary_name");
    return true;
}
