#include "scan/DiscImage.h"

#include "catalogue/TextForms.h"
#include "drives/Drives.h"
#include "scan/DiscWalk.h"

#include <QFile>

#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/udf.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// libcdio writes its warnings to standard output and ends the program on its errors; what goes wrong
// with an image is told in our own sentences instead.
void quietLog(cdio_log_level_t, const char[]) {}

void quietenLibcdio()
{
    static std::once_flag once;
    std::call_once(once, [] { cdio_log_set_handler(quietLog); });
}

// No real directory comes near this; a damaged image must not make us allocate without end.
constexpr quint64 kMaxDirectoryBytes = 256ull << 20;
// A directory whose path below the root is longer than a path may be is not walked: the walker could
// not open it on the disc mounted either, and it bounds the length of every path a listing holds.
constexpr std::size_t kMaxPathBytes = PATH_MAX;
constexpr quint64 kBlock = 2048;

struct FileEntry
{
    std::string name; // as listed (UTF-8)
    std::string raw;  // the bytes of a Rock Ridge name that is not UTF-8; empty for any other
    quint64 size = 0;
    std::time_t modified = 0;
    std::time_t created = 0;
    // Where its bytes are: an ISO 9660 file's first extent (its block and length) and any further
    // parts; a UDF file's file entry (its block in the image).
    quint64 location = 0;
    quint64 firstPart = 0;
    std::vector<std::pair<quint64, quint64>> moreParts;
};

struct IsoDir
{
    std::string name; // as listed (UTF-8)
    std::string raw;  // as for FileEntry
    quint64 location = 0;
    quint64 bytes = 0; // 0 for a directory Rock Ridge relocated: its own "." record says
    // As a directory's name holds them (an ISO 9660 block number and length are 32 bits).
    std::uint32_t where() const { return std::uint32_t(location); }
    std::uint32_t extra() const { return std::uint32_t(bytes); }
};

struct UdfDir
{
    std::string name;
    std::string raw; // always empty: UDF's names are text
    quint32 icb = 0; // the block of its file entry in the partition
    bool root = false;
    std::uint32_t where() const { return icb; }
    std::uint32_t extra() const { return root ? 1 : 0; }
};

// A broken-down local time from libiso9660 (which fills tm_gmtoff) back to seconds since the epoch.
std::time_t fromLocal(struct tm parts)
{
    const long offset = parts.tm_gmtoff;
    return timegm(&parts) - offset;
}

std::time_t fromShortIsoTime(const iso9660_dtime_t &time)
{
    struct tm parts
    {};
    iso9660_get_dtime(&time, true, &parts);
    return fromLocal(parts);
}

// libiso9660's reading of the 17-character form ignores its zone offset, so it is read here.
std::time_t fromLongIsoTime(const iso9660_ltime_t &time)
{
    const auto number = [](const char *digits, int count) {
        int value = 0;
        for (int i = 0; i < count; ++i)
            value = value * 10 + (digits[i] >= '0' && digits[i] <= '9' ? digits[i] - '0' : 0);
        return value;
    };
    struct tm parts
    {};
    parts.tm_year = number(time.lt_year, 4) - 1900;
    parts.tm_mon = number(time.lt_month, 2) - 1;
    parts.tm_mday = number(time.lt_day, 2);
    parts.tm_hour = number(time.lt_hour, 2);
    parts.tm_min = number(time.lt_minute, 2);
    parts.tm_sec = number(time.lt_second, 2);
    return timegm(&parts) - static_cast<std::time_t>(static_cast<signed char>(time.lt_gmtoff)) * 15 * 60;
}

// A time of Rock Ridge's TF entry, in the 7-byte or the 17-byte form.
std::time_t fromTfTime(const std::uint8_t *bytes, bool longForm)
{
    static_assert(sizeof(iso9660_dtime_t) == 7 && sizeof(iso9660_ltime_t) == 17);
    if (longForm) {
        iso9660_ltime_t time;
        std::memcpy(&time, bytes, sizeof time);
        return fromLongIsoTime(time);
    }
    iso9660_dtime_t time;
    std::memcpy(&time, bytes, sizeof time);
    return fromShortIsoTime(time);
}

std::time_t fromUdfTime(const udf_timestamp_t &stamp)
{
    // libudf indexes a table by the month without looking at it.
    if (stamp.month < 1 || stamp.month > 12 || stamp.day < 1 || stamp.day > 31)
        return 0;
    time_t seconds = 0;
    long microseconds = 0;
    return udf_stamp_to_time(&seconds, &microseconds, stamp) ? seconds : 0;
}

// A name of the plain ISO 9660 tree as fuseiso and the kernel show it: "README.TXT;1" is readme.txt.
std::string translatedName(const char *raw, quint8 jolietLevel)
{
    std::string name(std::strlen(raw) + 1, '\0');
    iso9660_name_translate_ext(raw, name.data(), jolietLevel);
    name.resize(std::strlen(name.c_str()));
    return name;
}

// Whether a UDF file entry keeps its data inside itself, where libudf does not look for a directory's.
bool udfDataInEntry(const udf_file_entry_t &entry)
{
    return (entry.icb_tag.flags & ICBTAG_FLAG_AD_MASK) == ICBTAG_FLAG_AD_IN_ICB;
}

const QString kDirectoriesInEntries = QStringLiteral("directories kept inside their file entries");
const QString kExtendedEntries = QStringLiteral("extended file entries");

// libudf steps from one file identifier of a directory to the next without checking either against
// what it read of the directory: each must lie inside it, or the directory is damaged.
const udf_fileid_desc_t *nextIdentifier(const udf_fileid_desc_t &identifier)
{
    const std::size_t step =
        4 * ((sizeof identifier + identifier.u.i_imp_use + identifier.i_file_id + 3) / 4);
    return reinterpret_cast<const udf_fileid_desc_t *>(reinterpret_cast<const std::uint8_t *>(&identifier) +
                                                       step);
}

bool identifierInside(const udf_dirent_t &directory, const udf_fileid_desc_t *identifier, quint64 bytes)
{
    const auto *start = directory.sector;
    const auto *at = reinterpret_cast<const std::uint8_t *>(identifier);
    if (!start || at < start || quint64(at - start) + sizeof *identifier > bytes)
        return false;
    return quint64(at - start) + sizeof *identifier + identifier->u.i_imp_use + identifier->i_file_id <=
           bytes;
}

// libudf takes a file entry's allocation descriptors where the entry says they are, unchecked; an
// entry whose descriptors would lie outside it is checked here before libudf is given it.
bool udfEntrySound(const udf_file_entry_t &entry)
{
    return entry.i_extended_attr <= sizeof entry.u &&
           entry.i_alloc_descs <= sizeof entry.u - entry.i_extended_attr;
}

// A descriptor's tag as libudf checks it: its kind and the checksum of its first 16 bytes.
bool udfTagIs(const udf_tag_t &tag, quint16 kind)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&tag);
    std::uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        sum = std::uint8_t(sum + (i == 4 ? 0 : bytes[i]));
    return tag.id == kind && sum == tag.cksum;
}

// Whether the root directory's file entry that udf_get_root() will read (found as it finds it:
// partition and logical volume descriptors of the main sequence, then the file set descriptor) is one
// libudf can be given.
bool udfRootSound(const udf_t *udf)
{
    std::vector<std::uint8_t> block(kBlock);
    const auto read = [&](quint64 lba) {
        return lba <= 0x7FFFFFFF && udf_read_sectors(udf, block.data(), lsn_t(lba), 1) == DRIVER_OP_SUCCESS;
    };
    if (!read(256))
        return true; // libudf finds no root either
    const auto &anchor = *reinterpret_cast<const anchor_vol_desc_ptr_t *>(block.data());
    const quint32 first = anchor.main_vol_desc_seq_ext.loc;
    const quint32 end = first + (anchor.main_vol_desc_seq_ext.len - 1) / kBlock;
    quint32 partitionStart = 0;
    quint32 fileSet = 0;
    bool logical = false;
    for (quint32 lba = first; lba < end; ++lba) {
        if (lba - first > 4096)
            return false; // a sequence no disc has
        if (!read(lba))
            return true;
        const auto &tag = *reinterpret_cast<const udf_tag_t *>(block.data());
        if (udfTagIs(tag, TAGID_PARTITION)) {
            partitionStart = reinterpret_cast<const partition_desc_t *>(block.data())->start_loc;
            if (logical)
                break;
        } else if (udfTagIs(tag, TAGID_LOGVOL)) {
            const auto &volume = *reinterpret_cast<const logical_vol_desc_t *>(block.data());
            if (volume.logical_blocksize == kBlock) {
                logical = true;
                fileSet = volume.lvd_use.fsd_loc.loc.lba;
                if (partitionStart)
                    break;
            }
        }
    }
    if (!logical || !partitionStart || !read(quint64(partitionStart) + fileSet) ||
        !udfTagIs(*reinterpret_cast<const udf_tag_t *>(block.data()), TAGID_FSD))
        return true;
    const quint32 root = reinterpret_cast<const udf_fsd_t *>(block.data())->root_icb.loc.lba;
    if (!read(quint64(partitionStart) + root))
        return true;
    const auto &entry = *reinterpret_cast<const udf_file_entry_t *>(block.data());
    return !udfTagIs(entry.tag, TAGID_FILE_ENTRY) || udfEntrySound(entry);
}

quint32 le32(const std::uint8_t *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The parts of an ISO 9660 directory record (ECMA-119 9.1) that a listing reads.
namespace IsoRecord {
constexpr std::size_t kExtent = 2, kSize = 10, kRecorded = 18, kFlags = 25, kNameLength = 32, kName = 33;
constexpr std::uint8_t kDirectory = 0x02, kMoreParts = 0x80;
} // namespace IsoRecord

// What Rock Ridge's entries in one directory record's System Use area say (RRIP 1.12).
struct RockEntry
{
    bool present = false;   // the record has Rock Ridge entries
    bool relocated = false; // RE: a directory listed where its CL entry is, not here
    bool named = false;     // NM
    bool nameCut = false;   // NM's parts stopped being added
    std::string name;       // NM's bytes
    quint32 mode = 0;       // PX's st_mode
    bool childLink = false; // CL: a directory that lies at childLocation
    quint32 childLocation = 0;
    bool modified = false, created = false;
    std::time_t modifiedTime = 0, createdTime = 0;
};

// Reads the entries of one System Use area (or continuation area) into rock; where a CE entry points
// to a continuation area, sets *continuation to its block, offset and length.
void readRockEntries(const std::uint8_t *area, std::size_t length, RockEntry &rock,
                     std::array<quint32, 3> *continuation)
{
    while (length >= 4) {
        const std::size_t entryLength = area[2];
        if (entryLength < 4 || entryLength > length)
            return;
        const std::uint8_t *const data = area + 4;
        const std::size_t dataLength = entryLength - 4;
        const auto is = [&](const char *signature) {
            return area[0] == std::uint8_t(signature[0]) && area[1] == std::uint8_t(signature[1]);
        };
        if (is("ST")) {
            return;
        } else if (is("CE") && dataLength >= 24) {
            *continuation = {le32(data), le32(data + 8), le32(data + 16)};
        } else if (is("NM") && dataLength >= 1) {
            rock.present = true;
            // As the kernel reads it: no "." or "..", a name ending at a NUL, and one that would reach
            // 254 bytes ends before the part that would take it there.
            const std::string_view part(reinterpret_cast<const char *>(data + 1), dataLength - 1);
            const bool ofName = (data[0] & ~1) == 0; // not "." or "..", nor flags unknown
            if (ofName && !rock.nameCut && rock.name.size() + part.size() >= 254) {
                rock.nameCut = true;
            } else if (ofName && !rock.nameCut) {
                rock.named = true;
                rock.name += part.substr(0, part.find('\0'));
            }
        } else if (is("PX") && dataLength >= 8) {
            rock.present = true;
            rock.mode = le32(data);
        } else if (is("TF") && dataLength >= 1) {
            rock.present = true;
            const bool longForm = data[0] & 0x80;
            const std::size_t size = longForm ? 17 : 7;
            std::size_t at = 1;
            // Creation, modification, then access, attribute change, backup, expiration, effective.
            for (std::uint8_t bit = 1; bit < 0x80 && at + size <= dataLength; bit = std::uint8_t(bit << 1)) {
                if (!(data[0] & bit))
                    continue;
                if (bit == 1) {
                    rock.created = true;
                    rock.createdTime = fromTfTime(data + at, longForm);
                } else if (bit == 2) {
                    rock.modified = true;
                    rock.modifiedTime = fromTfTime(data + at, longForm);
                }
                at += size;
            }
        } else if (is("CL") && dataLength >= 8) {
            rock.present = true;
            rock.childLink = true;
            rock.childLocation = le32(data);
        } else if (is("RE")) {
            rock.present = true;
            rock.relocated = true;
        } else if (is("PL") || is("SL") || is("PN") || is("RR")) {
            rock.present = true;
        }
        area += entryLength;
        length -= entryLength;
    }
}

struct IsoListFree
{
    void operator()(CdioList_t *list) const { iso9660_filelist_free(list); }
};

} // namespace

struct DiscImage::State : DiscTree
{
    // The open image.
    QString path;
    std::string encodedPath;
    quint64 imageBytes = 0;
    Tree tree = Tree::None;
    QString label;
    iso9660_t *iso = nullptr;
    udf_t *udf = nullptr;
    quint32 udfPartitionStart = 0;
    IsoDir isoRoot;
    quint8 jolietLevel = 0;
    std::size_t rockSkip = 0;          // bytes before the Rock Ridge entries of a System Use area (SP)
    std::vector<std::uint8_t> records; // the directory being read
    std::vector<std::uint8_t> area;    // a block holding Rock Ridge continuation areas
    quint64 areaBlock = ~0ull;

    // The listing under way.
    qint64 listed = 0;
    std::vector<FileEntry> found;        // the files of the directory just read
    int imageFd = -1;                    // for reading files' bytes
    std::string relative;                // the directory being listed, below the root: "SETUP/DATA/"
    std::unordered_set<quint64> visited; // the first block of each directory listed
    QString error;
    qint64 leftOut = 0;   // directories not walked
    QString firstLeftOut; // the first of them and why

    ~State() override { close(); }

    void close()
    {
        if (imageFd >= 0)
            ::close(imageFd);
        imageFd = -1;
        if (iso)
            iso9660_close(iso);
        if (udf)
            udf_close(udf);
        iso = nullptr;
        udf = nullptr;
        tree = Tree::None;
        label.clear();
    }

    bool fail(const QString &sentence)
    {
        error = sentence;
        return false;
    }
    QString quoted() const { return QLatin1Char('\'') + path + QLatin1Char('\''); }
    QString inImage(const std::string &relativePath) const
    {
        return QString::fromUtf8(relativePath.data(), static_cast<qsizetype>(relativePath.size()));
    }
    bool cutShort(const std::string &what)
    {
        return fail(quoted() + QStringLiteral(" is damaged: it is cut short ('") + inImage(what) +
                    QStringLiteral("' lies beyond its end)."));
    }
    // The directory at relative is not walked; the listing goes on.
    void leaveOut(const QString &why)
    {
        if (leftOut++ == 0)
            firstLeftOut = QLatin1Char('\'') + inImage(relative) + QStringLiteral("', ") + why;
    }
    bool unreadableDirectory()
    {
        const QString which = relative.empty()
                                  ? QStringLiteral("the root directory")
                                  : QStringLiteral("the directory '") +
                                        inImage(relative.substr(0, relative.size() - 1)) + QLatin1Char('\'');
        return fail(quoted() + QStringLiteral(" is damaged: ") + which + QStringLiteral(" cannot be read."));
    }
    // Whether blocks [first, first + count) lie beyond the end of the image file.
    bool beyondEnd(quint64 first, quint64 count) const { return (first + count) * kBlock > imageBytes; }

    bool openIso();
    enum class Udf { Absent, Listable, Unsupported, Damaged };
    Udf openUdf(QString *why);
    bool unsupported(const QString &why)
    {
        return fail(quoted() +
                    QStringLiteral(" is a UDF disc image that cannot be read without mounting it (") + why +
                    QStringLiteral(")."));
    }

    // The tree as DiscWalk reads it.
    QString pathPrefix() const override { return path + QLatin1Char('/'); }
    std::uint64_t rootWhere() const override { return tree == Tree::Udf ? 0 : isoRoot.location; }
    std::uint64_t rootExtra() const override { return tree == Tree::Udf ? 1 : isoRoot.bytes; }
    Listing readDirectory(std::string_view path, std::string_view textPath, std::uint64_t where,
                          std::uint64_t extra, DirectoryNames &files, DirectoryNames &subdirs,
                          int *error) override;
    bool fileRecord(const DirectoryNames &files, std::size_t i, std::string_view, std::string_view textPath,
                    const QString &label, clsFile &record, int *) override
    {
        const FileEntry &file = found[files.where(i)];
        record.SetFileInformationFrom(textPath, label, file.size, file.modified, file.created);
        return true;
    }
    void locateFile(const DirectoryNames &files, std::size_t i, DiscFile &file) override;
    // An image's failures end the listing, with a sentence of their own: nothing is "gone".
    bool isGone(int) const override { return false; }
    bool rootReadable() const override { return true; }
    int readFile(const DiscFile &file, char *buffer, std::size_t capacity,
                 const std::function<bool(const char *, std::size_t)> &take) override;
    QString errorText() const override { return error; }
    bool readBlocks(std::vector<std::uint8_t> &into, quint64 first, quint64 count) const
    {
        into.resize(count * kBlock);
        return first + count <= 0x7FFFFFFF &&
               iso9660_iso_seek_read(iso, into.data(), lsn_t(first), long(count)) == long(into.size());
    }
    bool readIsoRecords(const IsoDir &dir, quint64 *bytes);
    void readRock(const std::uint8_t *record, std::size_t nameLength, RockEntry &rock);
    bool read(const IsoDir &dir, std::vector<FileEntry> &found, std::vector<IsoDir> &subdirs, bool *repeated);
    bool read(const UdfDir &dir, std::vector<FileEntry> &found, std::vector<UdfDir> &subdirs, bool *repeated);
    bool udfDataInside(const udf_file_entry_t &entry, quint32 partitionStart,
                       std::vector<DiscFile::Extent> *extents = nullptr) const;
};

DiscImage::DiscImage() : m_state(std::make_unique<State>()) {}

DiscImage::~DiscImage() = default;

void DiscImage::Close()
{
    m_state->close();
}

bool DiscImage::IsOpen() const
{
    return m_state->tree != Tree::None;
}

QString DiscImage::VolumeLabel() const
{
    return m_state->label;
}

DiscImage::Tree DiscImage::ListedTree() const
{
    return m_state->tree;
}

QString DiscImage::TreeName() const
{
    switch (m_state->tree) {
    case Tree::RockRidge:
        return QStringLiteral("ISO 9660 with Rock Ridge");
    case Tree::Udf:
        return QStringLiteral("UDF");
    case Tree::Joliet:
        return QStringLiteral("ISO 9660 with Joliet");
    case Tree::Iso9660:
        return QStringLiteral("ISO 9660");
    case Tree::None:
        break;
    }
    return {};
}

qint64 DiscImage::FilesListed() const
{
    return m_state->listed;
}

QString DiscImage::ErrorText() const
{
    return m_state->error;
}

QString DiscImage::LeftOutText() const
{
    const State &s = *m_state;
    if (s.leftOut == 0)
        return {};
    QString text = s.quoted() + QStringLiteral(" is listed without ") + s.firstLeftOut + QLatin1Char('.');
    if (s.leftOut == 2)
        text += QStringLiteral(" One more directory was left out.");
    else if (s.leftOut > 2)
        text += QStringLiteral(" %1 more directories were left out.").arg(s.leftOut - 1);
    return text;
}

// The ISO 9660 tree: Rock Ridge names where the image has them (libiso9660 reads them from the
// primary tree, so Joliet is not asked for then), else Joliet's, else the plain names.
bool DiscImage::State::openIso()
{
    iso = iso9660_open_ext(encodedPath.c_str(), ISO_EXTENSION_NONE);
    if (!iso)
        return false;
    std::unique_ptr<iso9660_stat_t, void (*)(iso9660_stat_t *)> root(iso9660_ifs_stat(iso, "/"),
                                                                     iso9660_stat_free);
    std::unique_ptr<CdioList_t, IsoListFree> top(iso9660_ifs_readdir(iso, "/"));
    bool rock = false;
    if (top) {
        for (CdioListNode_t *node = _cdio_list_begin(top.get()); node && !rock;
             node = _cdio_list_node_next(node)) {
            rock = static_cast<iso9660_stat_t *>(_cdio_list_node_data(node))->rr.b3_rock == yep;
        }
    }
    if (!rock) {
        iso9660_t *joliet = iso9660_open_ext(encodedPath.c_str(), ISO_EXTENSION_ALL);
        if (joliet && iso9660_ifs_get_joliet_level(joliet) > 0) {
            iso9660_close(iso);
            iso = joliet;
            root.reset(iso9660_ifs_stat(iso, "/"));
        } else if (joliet) {
            iso9660_close(joliet);
        }
    }
    jolietLevel = iso9660_ifs_get_joliet_level(iso);
    tree = rock ? Tree::RockRidge : (jolietLevel > 0 ? Tree::Joliet : Tree::Iso9660);
    isoRoot = root ? IsoDir{{}, {}, static_cast<quint32>(root->lsn), root->size} : IsoDir{};
    // Rock Ridge's entries start where the SP entry of the root's "." record says: that many bytes
    // into each System Use area, after the 14 bytes of CD-ROM XA's own where it stands after them.
    rockSkip = 0;
    areaBlock = ~0ull;
    if (rock && root && readBlocks(records, quint32(root->lsn), 1)) {
        const std::uint8_t *const dot = records.data();
        for (const std::size_t at : {IsoRecord::kName + 1, IsoRecord::kName + 15}) {
            if (at + 7 <= dot[0] && dot[at] == 'S' && dot[at + 1] == 'P' && dot[at + 4] == 0xBE &&
                dot[at + 5] == 0xEF) {
                rockSkip = at - IsoRecord::kName - 1 + dot[at + 6];
                break;
            }
        }
    }
    return true;
}

// Whether the image's UDF can be listed; for one that cannot, *why says so in a few words.
DiscImage::State::Udf DiscImage::State::openUdf(QString *why)
{
    udf = udf_open(encodedPath.c_str());
    if (udf && !udfRootSound(udf)) {
        udf_close(udf);
        udf = nullptr;
        return Udf::Damaged;
    }
    udf_dirent_t *root = udf ? udf_get_root(udf, true, 0) : nullptr;
    if (root)
        udfPartitionStart = root->i_part_start;
    const bool inEntry = root && udfDataInEntry(root->fe);
    if (root)
        udf_dirent_free(root);
    if (root && !inEntry)
        return Udf::Listable;
    const bool opened = udf != nullptr;
    if (udf)
        udf_close(udf);
    udf = nullptr;
    if (inEntry) {
        *why = kDirectoriesInEntries;
        return Udf::Unsupported;
    }
    // libudf reads the plain file entries of UDF 1.02 and 1.50, not the extended ones that later
    // revisions bring; a root it cannot find in an earlier revision is damage.
    const std::optional<Drives::FileSystemProbe> probed =
        Drives::ProbeFileSystem(path, QStringLiteral("udf"));
    if (probed && probed->version.toDouble() >= 2.0) {
        *why = QStringLiteral("UDF ") + probed->version;
        return Udf::Unsupported;
    }
    return opened || probed ? Udf::Damaged : Udf::Absent;
}

bool DiscImage::Open(const QString &imagePath)
{
    State &s = *m_state;
    s.close();
    s.error.clear();
    s.listed = 0;
    s.leftOut = 0;
    s.firstLeftOut.clear();
    s.relative.clear();
    s.path = imagePath;
    s.encodedPath = QFile::encodeName(imagePath).toStdString();
    quietenLibcdio();

    const int fd = ::open(s.encodedPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == EISDIR)
            return s.fail(s.quoted() + QStringLiteral(" is a directory, not a disc image file."));
        return s.fail(s.quoted() + QStringLiteral(" cannot be read: ") +
                      QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.'));
    }
    struct stat info
    {};
    const bool isFile = ::fstat(fd, &info) == 0 && (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode));
    const bool isDirectory = S_ISDIR(info.st_mode);
    const off_t end = isFile ? ::lseek(fd, 0, SEEK_END) : -1;
    ::close(fd);
    if (isDirectory)
        return s.fail(s.quoted() + QStringLiteral(" is a directory, not a disc image file."));
    if (!isFile || end < 0)
        return s.fail(s.quoted() + QStringLiteral(" is not a disc image (ISO 9660 or UDF)."));
    s.imageBytes = static_cast<quint64>(end);

    const bool iso = s.openIso();
    QString why;
    const State::Udf udf = !iso || s.tree != Tree::RockRidge ? s.openUdf(&why) : State::Udf::Absent;
    if (udf == State::Udf::Listable) {
        if (s.iso)
            iso9660_close(s.iso);
        s.iso = nullptr;
        s.tree = Tree::Udf;
    } else if (!iso) {
        if (udf == State::Udf::Unsupported)
            return s.unsupported(why);
        if (udf == State::Udf::Damaged)
            return s.unreadableDirectory();
        return s.fail(s.quoted() + QStringLiteral(" is not a disc image (ISO 9660 or UDF)."));
    }

    // The label as for the disc mounted from a device (libblkid: Joliet's in preference to the primary
    // descriptor's for ISO 9660); the image's own reading where libblkid finds none.
    const QString type = s.tree == Tree::Udf ? QStringLiteral("udf") : QStringLiteral("iso9660");
    if (const std::optional<Drives::FileSystemProbe> probed = Drives::ProbeFileSystem(imagePath, type)) {
        s.label = probed->label;
    } else if (s.udf) {
        char volume[256] = {};
        udf_get_volume_id(s.udf, volume, sizeof volume);
        s.label = QString::fromUtf8(volume);
    } else {
        char *volume = nullptr;
        if (iso9660_ifs_get_volume_id(s.iso, &volume) && volume)
            s.label = QString::fromUtf8(volume);
        free(volume);
    }
    s.label = Drives::LabelOrNoLabel(s.label);
    return true;
}

bool DiscImage::List(clsFileColl &files, ScanObserver &observer, const QString &label,
                     std::vector<DiscFile> *where)
{
    State &s = *m_state;
    s.error.clear();
    s.listed = 0;
    if (s.tree == Tree::None)
        return s.fail(QStringLiteral("No disc image is open."));
    s.visited.clear();
    s.leftOut = 0;
    s.firstLeftOut.clear();
    DiscWalk walk(files, observer);
    walk.setLabel(label);
    walk.collectFiles(where);
    const bool complete = walk.run(s);
    s.listed = walk.listed();
    s.found.clear();
    return complete;
}

DiscTree &DiscImage::Source()
{
    return *m_state;
}

// One directory as the walk reads it: a directory that leads back into the walk, or lies too deep,
// is left out; a damaged image ends the walk.
DiscTree::Listing DiscImage::State::readDirectory(std::string_view, std::string_view textPath,
                                                  std::uint64_t where, std::uint64_t extra,
                                                  DirectoryNames &files, DirectoryNames &subdirs, int *)
{
    relative.assign(textPath);
    found.clear();
    if (relative.size() > kMaxPathBytes) {
        leaveOut(QStringLiteral("whose path is longer than %1 bytes").arg(kMaxPathBytes));
        return Listing::LeftOut;
    }
    bool repeated = false;
    const auto take = [&](const auto &dirs) {
        for (std::size_t i = 0; i < found.size(); ++i)
            files.add(found[i].raw.empty() ? found[i].name : found[i].raw, std::uint32_t(i));
        for (const auto &dir : dirs)
            subdirs.add(dir.raw.empty() ? dir.name : dir.raw, dir.where(), dir.extra());
    };
    if (tree == Tree::Udf) {
        std::vector<UdfDir> dirs;
        if (!read(UdfDir{{}, {}, quint32(where), extra != 0}, found, dirs, &repeated))
            return Listing::Failed;
        take(dirs);
    } else {
        std::vector<IsoDir> dirs;
        if (!read(IsoDir{{}, {}, where, extra}, found, dirs, &repeated))
            return Listing::Failed;
        take(dirs);
    }
    if (repeated) {
        leaveOut(
            QStringLiteral("which leads back to a directory listed before it (the image is damaged there)"));
        return Listing::LeftOut;
    }
    return Listing::Listed;
}

void DiscImage::State::locateFile(const DirectoryNames &files, std::size_t i, DiscFile &file)
{
    const FileEntry &entry = found[files.where(i)];
    if (tree != Tree::Udf) {
        file.extents.push_back({entry.location * kBlock, entry.firstPart});
        for (const auto &[block, bytes] : entry.moreParts)
            file.extents.push_back({block * kBlock, bytes});
        file.order = entry.location;
        return;
    }
    // A UDF file's extents are in its file entry.
    std::vector<std::uint8_t> block(kBlock);
    file.order = entry.location;
    if (entry.location > 0x7FFFFFFF ||
        udf_read_sectors(udf, block.data(), lsn_t(entry.location), 1) != DRIVER_OP_SUCCESS)
        return;
    const auto &fileEntry = *reinterpret_cast<const udf_file_entry_t *>(block.data());
    if ((fileEntry.icb_tag.flags & ICBTAG_FLAG_AD_MASK) == ICBTAG_FLAG_AD_IN_ICB) {
        if (udfEntrySound(fileEntry) && fileEntry.info_len <= fileEntry.i_alloc_descs)
            file.extents.push_back(
                {entry.location * kBlock + offsetof(udf_file_entry_t, u) + fileEntry.i_extended_attr,
                 fileEntry.info_len});
        return;
    }
    udfDataInside(fileEntry, udfPartitionStart, &file.extents);
    if (!file.extents.empty() && file.extents.front().offset != DiscFile::kHole)
        file.order = file.extents.front().offset / kBlock;
}

// A file's bytes, extent after extent, cut at its size. A file whose extents do not cover its size
// (descriptors continued elsewhere, which are not followed) cannot be read.
int DiscImage::State::readFile(const DiscFile &file, char *buffer, std::size_t capacity,
                               const std::function<bool(const char *, std::size_t)> &take)
{
    quint64 covered = 0;
    for (const DiscFile::Extent &extent : file.extents)
        covered += extent.length;
    if (covered < file.size)
        return ENOTSUP;
    if (imageFd < 0) {
        imageFd = ::open(encodedPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        if (imageFd < 0)
            return errno;
        ::posix_fadvise(imageFd, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    quint64 left = file.size;
    for (const DiscFile::Extent &extent : file.extents) {
        quint64 length = std::min<quint64>(left, extent.length);
        left -= length;
        for (quint64 at = extent.offset; length > 0;) {
            const std::size_t step = std::size_t(std::min<quint64>(length, capacity));
            if (extent.offset == DiscFile::kHole) {
                std::memset(buffer, 0, step);
            } else {
                // The kernel reads ahead of us: the next pieces are asked for while this one is taken.
                // No further than the extent's end: a small file asks for no more than itself.
                ::posix_fadvise(imageFd, off_t(at), off_t(std::min<quint64>(4 * capacity, length)),
                                POSIX_FADV_WILLNEED);
                const ssize_t got = ::pread(imageFd, buffer, step, off_t(at));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return got < 0 ? errno : EIO; // an image cut short
                at += quint64(got);
                length -= quint64(got);
                if (!take(buffer, std::size_t(got)))
                    return 0;
                continue;
            }
            length -= step;
            if (!take(buffer, step))
                return 0;
        }
    }
    return 0;
}

// Reads the records of a directory into records; *bytes is its length, taken from its own "." record
// for one that Rock Ridge relocated. False, with the error set, when they cannot be read.
bool DiscImage::State::readIsoRecords(const IsoDir &dir, quint64 *bytes)
{
    const std::string where = relative.empty() ? std::string("/") : relative;
    *bytes = dir.bytes;
    if (*bytes == 0) {
        if (beyondEnd(dir.location, 1))
            return cutShort(where);
        if (!readBlocks(records, dir.location, 1) || records[0] <= IsoRecord::kName)
            return unreadableDirectory();
        *bytes = le32(records.data() + IsoRecord::kSize);
    }
    if (*bytes == 0 || *bytes > kMaxDirectoryBytes)
        return unreadableDirectory();
    const quint64 blocks = (*bytes + kBlock - 1) / kBlock;
    if (beyondEnd(dir.location, blocks))
        return cutShort(where);
    return readBlocks(records, dir.location, blocks) || unreadableDirectory();
}

// Rock Ridge's entries of a directory record, following its continuation areas (CE) as the kernel
// does, at most 32 of them; an area that cannot be read ends them.
void DiscImage::State::readRock(const std::uint8_t *record, std::size_t nameLength, RockEntry &rock)
{
    const std::size_t length = record[0];
    const std::size_t start = IsoRecord::kName + nameLength + (nameLength % 2 == 0 ? 1 : 0) + rockSkip;
    if (start >= length)
        return;
    std::array<quint32, 3> next{}; // block, offset, length
    readRockEntries(record + start, length - start, rock, &next);
    for (int followed = 0; next[2] != 0 && followed < 32; ++followed) {
        const auto [block, offset, size] = next;
        next = {};
        if (offset >= kBlock || size > kBlock - offset || beyondEnd(block, 1))
            return;
        if (block != areaBlock) {
            areaBlock = ~0ull;
            if (!readBlocks(area, block, 1))
                return;
            areaBlock = block;
        }
        readRockEntries(area.data() + offset, size, rock, &next);
    }
}

// The directory's records are read here, not by libiso9660, which finds a directory only by its path,
// and a directory Rock Ridge relocated (CL, RE) has none that leads to it.
bool DiscImage::State::read(const IsoDir &dir, std::vector<FileEntry> &found, std::vector<IsoDir> &subdirs,
                            bool *repeated)
{
    if (!visited.insert(dir.location).second) {
        *repeated = true;
        return true;
    }
    quint64 bytes = 0;
    if (!readIsoRecords(dir, &bytes))
        return false;

    bool partOfFile = false; // the record before said the next one is a further part of its file
    bool fileListed = false; // and that file is listed
    for (std::size_t offset = 0; offset < bytes;) {
        const std::uint8_t *const record = records.data() + offset;
        const std::size_t length = record[0];
        if (length == 0 || (offset + length - 1) / kBlock != offset / kBlock) {
            offset += kBlock - offset % kBlock; // the rest of the block is unused
            continue;
        }
        offset += length;
        const std::size_t nameLength = length > IsoRecord::kNameLength ? record[IsoRecord::kNameLength] : 0;
        if (nameLength == 0 || IsoRecord::kName + nameLength > length)
            return unreadableDirectory();
        const char *const isoName = reinterpret_cast<const char *>(record + IsoRecord::kName);
        if (nameLength == 1 && (isoName[0] == 0 || isoName[0] == 1))
            continue; // "." and ".."
        const std::uint8_t flags = record[IsoRecord::kFlags];
        const quint32 extent = le32(record + IsoRecord::kExtent);
        const quint32 size = le32(record + IsoRecord::kSize);
        const quint64 blocks = (quint64(size) + kBlock - 1) / kBlock;

        // A file over 4 GiB comes as several records, one per part: they make one file.
        const bool furtherPart = partOfFile;
        partOfFile = !(flags & IsoRecord::kDirectory) && (flags & IsoRecord::kMoreParts);
        if (furtherPart) {
            if (fileListed && beyondEnd(extent, blocks))
                return cutShort(relative + found.back().name);
            if (fileListed) {
                found.back().size += size;
                found.back().moreParts.push_back({extent, size});
            }
            continue;
        }
        fileListed = false;

        RockEntry rock;
        if (tree == Tree::RockRidge)
            readRock(record, nameLength, rock);
        if (rock.relocated)
            continue; // listed where its CL entry stands
        // Rock Ridge names are bytes, made text as the walker makes the names of the disc mounted.
        std::string name;
        std::string raw;
        if (rock.named) {
            TextForms::appendFileName(name, rock.name);
            if (name != rock.name)
                raw = std::move(rock.name);
        } else if (tree == Tree::Joliet) {
            QString text;
            for (std::size_t i = 0; i + 1 < nameLength; i += 2)
                text.append(QChar(char16_t(std::uint8_t(isoName[i]) << 8 | std::uint8_t(isoName[i + 1]))));
            name = translatedName(text.toStdString().c_str(), jolietLevel);
        } else {
            name = translatedName(std::string(isoName, strnlen(isoName, nameLength)).c_str(), 0);
        }
        const quint32 type = rock.present ? rock.mode & S_IFMT : 0;
        const bool isDir =
            rock.childLink || ((flags & IsoRecord::kDirectory) && (type == 0 || S_ISDIR(type)));
        const bool isFile = !(flags & IsoRecord::kDirectory) && !isDir && (type == 0 || S_ISREG(type));
        if (name.empty() || name.front() == '.' || !(isFile || isDir))
            continue;
        if (isDir) {
            // A directory relocated by Rock Ridge is listed here, where its CL entry stands.
            subdirs.push_back({std::move(name), std::move(raw), rock.childLink ? rock.childLocation : extent,
                               rock.childLink ? 0 : size});
            continue;
        }
        if (beyondEnd(extent, blocks))
            return cutShort(relative + name);
        iso9660_dtime_t recorded;
        std::memcpy(&recorded, record + IsoRecord::kRecorded, sizeof recorded);
        const std::time_t modified = rock.modified ? rock.modifiedTime : fromShortIsoTime(recorded);
        const std::time_t created = rock.created ? rock.createdTime : modified;
        found.push_back({std::move(name), std::move(raw), size, modified, created, extent, size, {}});
        fileListed = true;
    }
    return true;
}

// Whether a UDF file's data, as long as its recorded size, lies inside the image, as an ISO 9660 file's
// must: its extents (libudf reads only the first) cover the size, each recorded one inside the image.
// Extents of neither recorded nor allocated data take no room (a sparse file's). Descriptors continued
// in another extent (which libudf does not follow either) are taken as covering the rest.
bool DiscImage::State::udfDataInside(const udf_file_entry_t &entry, quint32 partitionStart,
                                     std::vector<DiscFile::Extent> *extents) const
{
    if (!udfEntrySound(entry))
        return false;
    const unsigned char *at = entry.u.ext_attr + entry.i_extended_attr;
    const unsigned char *const end = at + entry.i_alloc_descs;
    std::size_t step = 0;
    switch (entry.icb_tag.flags & ICBTAG_FLAG_AD_MASK) {
    case ICBTAG_FLAG_AD_SHORT:
        step = 8; // length, position
        break;
    case ICBTAG_FLAG_AD_LONG:
        step = 16; // length, position, partition, own use
        break;
    case ICBTAG_FLAG_AD_EXTENDED:
        step = 20; // length, recorded length, information length, position, ...
        break;
    default:
        return entry.info_len <= entry.i_alloc_descs; // the data lies in the file entry itself
    }
    const std::size_t positionAt = step == 20 ? 12 : 4;
    quint64 covered = 0;
    for (; at + step <= end && covered < entry.info_len; at += step) {
        const quint32 length = le32(at) & 0x3FFFFFFF;
        const quint32 kind = le32(at) >> 30;
        if (length == 0)
            break;
        if (kind == 3)
            return true; // the next descriptors lie in the extent it names
        const quint64 block = quint64(partitionStart) + le32(at + positionAt);
        if (kind == 0 && beyondEnd(block, (length + kBlock - 1) / kBlock))
            return false;
        if (extents)
            extents->push_back({kind == 0 ? block * kBlock : DiscFile::kHole, length});
        covered += length;
    }
    return covered >= entry.info_len;
}

// libudf walks a directory with one handle that it frees itself when it reaches the end or fails.
bool DiscImage::State::read(const UdfDir &dir, std::vector<FileEntry> &found, std::vector<UdfDir> &subdirs,
                            bool *repeated)
{
    udf_dirent_t *handle = nullptr;
    if (dir.root) {
        handle = udf_get_root(udf, true, 0);
    } else {
        // udf_opendir() wants the parent's handle standing at the entry; what it reads of it is the
        // entry's file identifier (where its file entry lies) and its name.
        std::vector<std::uint8_t> block(kBlock);
        if (udf_read_sectors(udf, block.data(), lsn_t(udfPartitionStart + dir.icb), 1) != DRIVER_OP_SUCCESS ||
            !udfEntrySound(*reinterpret_cast<const udf_file_entry_t *>(block.data())))
            return unreadableDirectory();
        udf_fileid_desc_t identifier{};
        identifier.icb.loc.lba = dir.icb;
        auto parent = std::make_unique<udf_dirent_t>();
        parent->psz_name = const_cast<char *>("");
        parent->b_dir = true;
        parent->p_udf = udf;
        parent->fid = &identifier;
        handle = udf_opendir(parent.get());
    }
    if (!handle)
        return unreadableDirectory();
    const quint64 blocks = quint64(handle->i_loc_end) - handle->i_loc + 1;
    if (handle->fe.tag.id != TAGID_FILE_ENTRY || handle->dir_left > kMaxDirectoryBytes ||
        handle->dir_left > blocks * kBlock) {
        udf_dirent_free(handle);
        return unreadableDirectory();
    }
    if (handle->dir_left > 0 && beyondEnd(quint64(handle->i_part_start) + handle->i_loc, blocks)) {
        udf_dirent_free(handle);
        return cutShort(relative.empty() ? std::string("/") : relative);
    }
    if (!visited.insert(quint64(handle->i_part_start) + handle->i_loc).second) {
        udf_dirent_free(handle);
        *repeated = true;
        return true;
    }

    const quint32 partitionStart = handle->i_part_start;
    const quint64 bytes = blocks * kBlock;
    const quint64 size = handle->dir_left;
    if (size > 0) {
        // The first identifier is decoded as soon as libudf has read the directory: it is checked first.
        std::vector<std::uint8_t> first(kBlock);
        const auto *identifier = reinterpret_cast<const udf_fileid_desc_t *>(first.data());
        if (udf_read_sectors(udf, first.data(), handle->i_part_start + handle->i_loc, 1) !=
                DRIVER_OP_SUCCESS ||
            sizeof *identifier + identifier->u.i_imp_use + identifier->i_file_id > bytes) {
            udf_dirent_free(handle);
            return unreadableDirectory();
        }
    }
    for (;;) {
        const bool atEnd = handle->dir_left == 0;
        if (!atEnd && handle->fid && !identifierInside(*handle, nextIdentifier(*handle->fid), bytes)) {
            udf_dirent_free(handle);
            return unreadableDirectory();
        }
        udf_dirent_t *entry = udf_readdir(handle);
        if (!entry)
            return atEnd || unreadableDirectory();
        if (!identifierInside(*entry, entry->fid, bytes) || entry->dir_left > size) {
            udf_dirent_free(entry);
            return unreadableDirectory();
        }
        const quint8 characteristics = entry->fid->file_characteristics;
        if (characteristics & (UDF_FILE_PARENT | UDF_FILE_DELETED | UDF_FILE_HIDDEN))
            continue;
        // libudf copies 8-bit names as they are: Latin-1 bytes, made UTF-8 here.
        const std::uint8_t *identifier = entry->fid->u.imp_use.data + entry->fid->u.i_imp_use;
        std::string name = entry->psz_name ? entry->psz_name : "";
        if (entry->fid->i_file_id > 0 && identifier[0] == 8)
            name = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())).toStdString();
        if (name.empty() || name.front() == '.')
            continue;
        const quint8 type = entry->fe.icb_tag.file_type;
        if (entry->fe.tag.id == TAGID_EFE ||
            (type == ICBTAG_FILE_TYPE_DIRECTORY && udfDataInEntry(entry->fe))) {
            const QString why = entry->fe.tag.id == TAGID_EFE ? kExtendedEntries : kDirectoriesInEntries;
            udf_dirent_free(entry);
            return unsupported(why);
        }
        if (entry->fe.tag.id != TAGID_FILE_ENTRY) {
            udf_dirent_free(entry);
            return unreadableDirectory();
        }
        if (type == ICBTAG_FILE_TYPE_DIRECTORY) {
            subdirs.push_back({std::move(name), {}, entry->fid->icb.loc.lba, false});
        } else if (type == ICBTAG_FILE_TYPE_REGULAR) {
            if (!udfDataInside(entry->fe, partitionStart)) {
                udf_dirent_free(entry);
                return cutShort(relative + name);
            }
            const std::time_t modified = fromUdfTime(entry->fe.modification_time);
            found.push_back({std::move(name),
                             {},
                             udf_get_file_length(entry),
                             modified,
                             modified,
                             quint64(partitionStart) + entry->fid->icb.loc.lba,
                             0,
                             {}});
        }
    }
}
