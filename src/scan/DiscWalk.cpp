#include "scan/DiscWalk.h"

#include "catalogue/TextForms.h"
#include "scan/NameOrder.h"

#include <algorithm>
#include <charconv>

void DirectoryNames::add(std::string_view raw, std::uint32_t where, std::uint32_t extra)
{
    if (raw.empty() || raw.front() == '.')
        return;
    Name name{
        offset(), static_cast<std::uint32_t>(raw.size()), 0, 0, std::uint32_t(where), std::uint32_t(extra)};
    m_bytes += raw;
    m_bytes += '\0';
    if (TextForms::isUtf8(raw)) {
        name.text = name.raw;
        name.textLength = name.rawLength;
    } else {
        name.text = offset();
        TextForms::appendFileName(m_bytes, raw);
        name.textLength = offset() - name.text;
    }
    m_names.push_back(name);
}

void DirectoryNames::sort()
{
    std::sort(m_names.begin(), m_names.end(), [this](const Name &a, const Name &b) {
        return NameOrder::lessByText(text(a), raw(a), text(b), raw(b));
    });
}

void DirectoryNames::clear()
{
    m_bytes.clear();
    m_names.clear();
}

bool DiscWalk::run(DiscTree &tree)
{
    m_tree = &tree;
    m_prefix = tree.pathPrefix();
    m_path.clear();
    m_text.clear();
    m_levels.clear();
    m_stopped = false;
    m_gone = false;
    // The directories being walked are kept in m_levels rather than on the stack, so that no depth of
    // tree can overflow it.
    bool complete = list(tree.rootWhere(), tree.rootExtra());
    while (complete && !m_levels.empty() && !m_stopped) {
        Level &level = m_levels.back();
        if (level.started == level.subdirs.size()) {
            m_levels.pop_back();
            continue;
        }
        const std::size_t k = level.started++;
        m_observer.subdirectoryStarting(static_cast<qint64>(k), static_cast<qint64>(level.subdirs.size()));
        m_path.resize(level.pathLength);
        m_path += level.subdirs.raw(k);
        m_path += '/';
        m_text.resize(level.textLength);
        m_text += level.subdirs.text(k);
        m_text += '/';
        complete = list(level.subdirs.where(k), level.subdirs.extra(k)); // adds to m_levels
    }
    m_levels.clear();
    m_tree = nullptr;
    return complete;
}

void DiscWalk::fail(int error)
{
    if (!m_tree->isGone(error))
        return;
    m_gone = true;
    m_observer.driveNotReady();
    // Once the user has seen the message: a drive whose root still cannot be read holds no disc, and
    // every directory left would only say so again, so the walk ends. A root that reads again (the disc
    // put back, or one directory the drive could not read) lets the walk go on.
    if (!m_tree->rootReadable())
        m_stopped = true;
}

// Lists one directory's files and adds it to m_levels for its subdirectories to be walked. False when
// the tree ended the walk.
bool DiscWalk::list(std::uint64_t where, std::uint64_t extra)
{
    DiscTree &tree = *m_tree;
    // The names of the files are freed once they are listed: only those of the subdirectories are kept
    // below this level.
    DirectoryNames names;
    DirectoryNames subdirs;
    int error = 0;
    switch (tree.readDirectory(m_path, m_text, where, extra, names, subdirs, &error)) {
    case DiscTree::Listing::Failed:
        return false;
    case DiscTree::Listing::LeftOut:
        tree.closeDirectory();
        if (error != 0)
            fail(error);
        return true;
    case DiscTree::Listing::Listed:
        break;
    }
    names.sort();
    subdirs.sort();

    m_observer.directoryListed(m_prefix + TextForms::fromUtf8(m_text));
    m_observer.yield();

    const std::size_t textLength = m_text.size();
    if (!names.empty()) {
        const auto count = static_cast<qint64>(names.size());
        m_observer.filesStarting(count);
        qint64 lastYield = 0;
        for (qint64 i = 0; i < count; ++i) {
            const auto file = static_cast<std::size_t>(i);
            m_observer.fileStarting(i, names.text(file));
            m_filePath.assign(m_path).append(names.raw(file));
            m_text.resize(textLength);
            m_text += names.text(file);
            clsFile record;
            if (!tree.fileRecord(names, file, m_filePath, m_text, m_label, record, &error)) {
                m_text.resize(textLength);
                tree.closeDirectory();
                fail(error);
                return true;
            }
            const clsFile &stored = m_files.Append(std::move(record));
            m_observer.fileListed(stored, m_count);
            if (m_where) {
                DiscFile located;
                located.key = m_count;
                const std::string_view size = stored.FileSizeUtf8();
                std::from_chars(size.data(), size.data() + size.size(), located.size);
                located.path = m_filePath;
                tree.locateFile(names, file, located);
                m_where->push_back(std::move(located));
            }
            ++m_count;
            if (i - lastYield == 100) {
                m_observer.yield();
                lastYield = i;
            }
        }
    }
    tree.closeDirectory(); // no descriptor is held open down the tree
    m_text.resize(textLength);

    m_observer.yield();
    m_levels.push_back({std::move(subdirs), 0, m_path.size(), m_text.size()});
    return true;
}
