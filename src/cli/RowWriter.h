#pragma once
// Catalogue rows as the tool prints them, one at a time as they are read:
// - text: the stored path ("LABEL: dir/file"), one line per row;
// - csv: RFC 4180, a header row with the six column names, CR LF line ends, a field holding a
//   comma, a quote or a line break in quotes with its quotes doubled;
// - json: one object per line with the six column names as keys and the texts as strings
//   (control characters as \uXXXX; bytes that are not UTF-8 become U+FFFD), the size as a number
//   (null when blank; a size that is not a number stays the stored text).
// With fingerprints (export), csv and json also carry each file's content fingerprint (32 hexadecimal digits,
// as xxhsum -H2 prints them): csv as a seventh column "Fingerprint", empty where the file has none; json as
// the key "Fingerprint", only where it has one.

#include "catalogue/ListColumns.h"
#include "cli/Output.h"

#include <QString>

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace Cli {

enum class Format { Text, Csv, Json };

// The format named on the command line; nothing for an unknown name.
std::optional<Format> ParseFormat(const QString &name);

// The six texts of a row in the order of ListColumns (file name, label, path, size, last update,
// creation).
using RowFields = std::array<std::string_view, ListColumns::kCount>;

class RowWriter
{
public:
    RowWriter(OutputStream &out, Format format, bool fingerprints = false);

    // The header row (CSV only; nothing for the other formats).
    void Header();
    void Row(const RowFields &fields, std::string_view fingerprint = {});

    // One field as CSV (quoted where it must be) and one text as a JSON string, for other listings.
    void csvField(std::string_view text);
    void jsonString(std::string_view text);
    // A file's size as a JSON number (null when blank).
    void jsonSize(std::string_view text);

private:
    OutputStream &m_out;
    Format m_format;
    bool m_fingerprints;
    std::array<std::string, ListColumns::kCount> m_jsonKeys; // "\"File Name\":" ...
    std::string m_scratch;
};

} // namespace Cli
