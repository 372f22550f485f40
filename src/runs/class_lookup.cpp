// The class list's lookup: which line names a container.
#include "runs/class_list.h"

#include "platform/text.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <optional>
#include <vector>

namespace runs {

namespace {
struct Line {
    QString key;
    QString rest; // without its leading blanks
};

std::optional<Line> splitLine(const QString &line)
{
    const QString trimmed = platform::withoutLeadingBlanks(line);
    const qsizetype separator = trimmed.indexOf(QLatin1Char(';'));
    if (separator < 0)
        return std::nullopt;
    return Line{trimmed.left(separator), platform::withoutLeadingBlanks(trimmed.mid(separator + 1))};
}
} // namespace

namespace {
// The usable lines' rests, upper-cased and sorted, so that the lines whose
// rest begins with a name are one run found by binary search; the first of
// them in file order is the least line number in that run, read from a table
// of minimums over runs of 2^k (a sparse table). A preview over a whole tree
// looks up every user's container: users × log(lines), not users × lines.
class ClassIndex {
public:
    explicit ClassIndex(const QStringList &classList) : m_lines(classList)
    {
        for (int i = 0; i < classList.size(); ++i) {
            if (const std::optional<Line> line = splitLine(classList.at(i))) {
                QString rest = platform::upperAscii(line->rest);
                const qsizetype named = rest.indexOf(QLatin1Char(';'));
                m_entries.push_back({rest, line->key, i, named < 0 ? rest.size() : named});
                if (!line->rest.isEmpty())
                    m_keys.push_back(line->key);
            }
        }
        m_foldedKeys = m_keys;
        std::sort(m_keys.begin(), m_keys.end());
        std::sort(m_foldedKeys.begin(), m_foldedKeys.end(), lessIgnoringCase);
        std::stable_sort(m_entries.begin(), m_entries.end(),
                         [](const Entry &a, const Entry &b) { return a.rest < b.rest; });
        std::vector<int> level(m_entries.size());
        for (size_t i = 0; i < m_entries.size(); ++i)
            level[i] = static_cast<int>(i);
        m_first.push_back(std::move(level));
        for (size_t width = 2; width <= m_entries.size(); width *= 2) {
            const std::vector<int> &below = m_first.back();
            std::vector<int> above(m_entries.size() - width + 1);
            for (size_t i = 0; i < above.size(); ++i)
                above[i] = earlier(below[i], below[i + width / 2]);
            m_first.push_back(std::move(above));
        }
    }

    // Whether this index was made from `classList` as it is now. The index
    // holds a copy of the list, so a change to the caller's list cannot keep
    // its data where it was.
    [[nodiscard]] bool isOf(const QStringList &classList) const
    {
        return m_lines.constData() == classList.constData() && m_lines.size() == classList.size();
    }

    [[nodiscard]] ClassMatch match(const QString &name) const
    {
        const auto from = std::lower_bound(m_entries.begin(), m_entries.end(), name,
                                           [](const Entry &e, const QString &n) { return e.rest < n; });
        const auto to = std::partition_point(from, m_entries.end(), [&](const Entry &e) { return e.rest.startsWith(name); });
        if (from == to)
            return {};
        const size_t begin = static_cast<size_t>(from - m_entries.begin());
        const size_t count = static_cast<size_t>(to - from);
        const size_t k = static_cast<size_t>(std::bit_width(count) - 1);
        const Entry &line = m_entries[static_cast<size_t>(earlier(m_first[k][begin], m_first[k][begin + count - (size_t(1) << k)]))];
        // "8a;Abi05a;Raum 12" names Abi05a exactly: what follows a ";" is a remark.
        return {line.key, line.line, line.namedLength != name.size()};
    }

    // Whether `name` is the class of a line that names a container.
    [[nodiscard]] bool hasClass(const QString &name, Qt::CaseSensitivity cs) const
    {
        return cs == Qt::CaseSensitive ? std::binary_search(m_keys.begin(), m_keys.end(), name)
                                       : std::binary_search(m_foldedKeys.begin(), m_foldedKeys.end(), name, lessIgnoringCase);
    }

private:
    static bool lessIgnoringCase(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; }

    struct Entry {
        QString rest; // upper-cased, without leading blanks
        QString key;
        int line;
        qsizetype namedLength; // of the container it names, before any ";"
    };
    [[nodiscard]] int earlier(int a, int b) const { return m_entries[static_cast<size_t>(a)].line <= m_entries[static_cast<size_t>(b)].line ? a : b; }

    QStringList m_lines;
    std::vector<Entry> m_entries;
    std::vector<std::vector<int>> m_first; // [k][i]: the entry of the least line among entries i .. i + 2^k - 1
    std::vector<QString> m_keys;           // of the lines that name a container, sorted
    std::vector<QString> m_foldedKeys;     // the same, sorted ignoring letter case
};

// A run looks up one list for every user: the index of the last list serves.
const ClassIndex &indexOf(const QStringList &classList)
{
    static thread_local std::unique_ptr<ClassIndex> index;
    if (!index || !index->isOf(classList))
        index = std::make_unique<ClassIndex>(classList);
    return *index;
}
} // namespace

ClassMatch matchClass(const QStringList &classList, const QString &container)
{
    const QString name = platform::upperAscii(platform::withoutLeadingBlanks(container));
    if (name.isEmpty())
        return {};
    return indexOf(classList).match(name);
}

bool isClassName(const QStringList &classList, const QString &name, Qt::CaseSensitivity cs)
{
    return indexOf(classList).hasClass(name, cs);
}

} // namespace runs
