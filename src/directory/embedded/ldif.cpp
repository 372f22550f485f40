#include "directory/embedded/ldif.h"

#include "platform/errno_text.h"
#include "platform/error.h"

#include "directory/ldap_owners.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <cerrno>
#include <cstring>

namespace directory::ldif {

using namespace ldap_owners;

namespace {

// Far above any real attribute description, and what a tree stores in its
// packed entries.
constexpr qsizetype kMaxTypeLength = 1000;

platform::Error lineError(const QString &fileName, unsigned long line, const QString &what)
{
    return platform::Error(QStringLiteral("Datei %1, Zeile %2: %3").arg(fileName).arg(line).arg(what));
}

// A table, as every line of a large file is checked.
constexpr auto kTypeChars = [] {
    std::array<bool, 256> chars{};
    for (unsigned char c : std::string_view("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-;."))
        chars[c] = true;
    return chars;
}();

bool isTypeChar(char c)
{
    return kTypeChars[static_cast<unsigned char>(c)];
}

bool isTypeStart(char c)
{
    return isTypeChar(c) && c != '-' && c != ';' && c != '.';
}

// Whether `line` is "<type>:" followed by `value` (ignoring letter case and
// blanks around the value); an empty `value` matches any.
bool isLine(QByteArrayView line, QByteArrayView type, QByteArrayView value = {})
{
    // The first letter first: this runs for every line of a large file.
    if (line.size() <= type.size() || line.at(type.size()) != ':' || (line.front() | 0x20) != type.front()
        || qstrnicmp(line.data(), type.data(), type.size()) != 0)
        return false;
    return value.isEmpty() || line.sliced(type.size() + 1).trimmed().compare(value, Qt::CaseInsensitive) == 0;
}

// Checks the start of one attribute line of a record: its type, its colon
// and what follows it. libldap would crash on some of these (a null attribute
// type) and follow others to other files.
void checkAttributeLine(QByteArrayView line, bool inModify, const QString &fileName, unsigned long lineNumber)
{
    if (line == "-") {
        if (!inModify)
            throw lineError(fileName, lineNumber, QStringLiteral("„-“ steht nur in Änderungen (changetype: modify)"));
        return;
    }
    if (!isTypeStart(line.front()))
        throw lineError(fileName, lineNumber, QStringLiteral("Zeile ohne Attributtyp"));
    // The type and its colon in one pass: this runs for every line of a large file.
    qsizetype colon = 1;
    while (colon < line.size() && isTypeChar(line.at(colon)))
        ++colon;
    if (colon == line.size() || (line.at(colon) != ':' && !line.sliced(colon).contains(':')))
        return; // the type goes on in a continuation line; checked again unfolded
    if (line.at(colon) != ':')
        throw lineError(fileName, lineNumber, QStringLiteral("ungültiger Attributtyp"));
    if (colon + 1 < line.size() && line.at(colon + 1) == '<')
        throw lineError(fileName, lineNumber, QStringLiteral("Werte aus anderen Dateien (:<) sind nicht erlaubt"));
    if (isLine(line, "include"))
        throw lineError(fileName, lineNumber, QStringLiteral("include: ist nicht erlaubt"));
}

// Checks the lines of a record with continuation lines once more, each
// unfolded as libldap will read it: a fold may split the type, or the colon
// from the "<" of a value in another file.
void checkUnfolded(QByteArrayView record, unsigned long firstLine, const QString &fileName)
{
    // Enough for any type, its colon and "<", or for "changetype: modify".
    constexpr qsizetype kHead = kMaxTypeLength + 32;
    QByteArray logical;
    bool cut = false; // the logical line goes on beyond `logical`
    unsigned long logicalLine = 0;
    bool inModify = false;
    bool first = true;
    const auto check = [&] {
        if (logical.isEmpty())
            return;
        if (!logical.contains(':') && cut)
            throw lineError(fileName, logicalLine, QStringLiteral("Attributtyp länger als %1 Zeichen").arg(kMaxTypeLength));
        if (std::exchange(first, false) && !isLine(logical, "dn"))
            throw lineError(fileName, logicalLine, QStringLiteral("ein Eintrag beginnt mit dn:"));
        checkAttributeLine(logical, inModify, fileName, logicalLine);
        inModify = inModify || isLine(logical, "changetype", "modify");
        logical.clear();
        cut = false;
    };
    bool inComment = false;
    unsigned long lineNumber = firstLine;
    for (qsizetype at = 0; at < record.size(); ++lineNumber) {
        qsizetype end = record.indexOf('\n', at);
        if (end < 0)
            end = record.size();
        QByteArrayView line = record.sliced(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(' ')) {
            if (inComment)
                continue;
            const QByteArrayView more = line.sliced(1);
            const qsizetype room = kHead - logical.size();
            cut = cut || more.size() > room;
            logical += more.first(std::min(more.size(), room));
        } else if (line.startsWith('#')) {
            check();
            inComment = true;
        } else {
            check();
            inComment = false;
            cut = line.size() > kHead;
            logical = line.first(std::min(line.size(), kHead)).toByteArray();
            logicalLine = lineNumber;
        }
    }
    check();
}

Modification::Op opOf(int modOp, const QString &fileName, unsigned long line)
{
    switch (modOp & ~LDAP_MOD_BVALUES) {
    case LDAP_MOD_ADD:
        return Modification::Op::Add;
    case LDAP_MOD_DELETE:
        return Modification::Op::Delete;
    case LDAP_MOD_REPLACE:
        return Modification::Op::Replace;
    default:
        throw lineError(fileName, line, QStringLiteral("nur add, delete und replace sind erlaubt"));
    }
}

// Hands one record, ending in a NUL byte, to libldap and then to `handle`.
void parseRecord(char *text, size_t size, unsigned long firstLine, const QString &fileName,
                 const std::function<void(const Record &)> &handle)
{
    berval buffer{static_cast<ber_len_t>(size), text};
    LDIFRecord raw{};
    if (ldap_parse_ldif_record(&buffer, firstLine, &raw, "klassomat", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS)
        != LDAP_SUCCESS)
        throw lineError(fileName, firstLine, QStringLiteral("ungültiger LDIF-Eintrag"));
    Owned<LDIFRecord> done(&raw);
    if (!raw.lr_dn.bv_val)
        throw lineError(fileName, firstLine, QStringLiteral("ungültiger LDIF-Eintrag"));

    Record record;
    record.firstLine = firstLine;
    record.dn = QByteArrayView(raw.lr_dn.bv_val, static_cast<qsizetype>(raw.lr_dn.bv_len));
    if (record.dn.contains('\0') || !record.dn.isValidUtf8())
        throw lineError(fileName, firstLine, QStringLiteral("der DN ist kein gültiger UTF-8-Text"));
    switch (raw.lr_op) {
    case LDAP_REQ_ADD:
        record.kind = Record::Kind::Add;
        break;
    case LDAP_REQ_MODIFY:
        record.kind = Record::Kind::Modify;
        break;
    default:
        record.kind = Record::Kind::Other;
        handle(record);
        return;
    }
    for (LDAPMod **mod = raw.lrop_mods; mod && *mod; ++mod) {
        const Modification::Op op = opOf((*mod)->mod_op, fileName, firstLine);
        const char *const type = (*mod)->mod_type;
        const auto typeSize = static_cast<qsizetype>(std::strlen(type));
        if (typeSize == 0)
            throw lineError(fileName, firstLine, QStringLiteral("Änderung ohne Attributtyp"));
        if (typeSize > kMaxTypeLength)
            throw lineError(fileName, firstLine, QStringLiteral("Attributtyp länger als %1 Zeichen").arg(kMaxTypeLength));
        // Every member given: emplace_back() would first zero all of it, its
        // room for values too, for every attribute of a large file.
        record.modifications.append(Modification{op, QByteArrayView(type, typeSize), {}});
        Modification &modification = record.modifications.back();
        for (berval **value = (*mod)->mod_bvalues; value && *value; ++value)
            modification.values.append(QByteArrayView((*value)->bv_val, static_cast<qsizetype>((*value)->bv_len)));
    }
    handle(record);
}

// Joins the continuation lines of the record from `begin` to `end` to the
// lines they continue; returns its new end. libldap unfolds a line only after
// looking for the "::" of a base64 value and leaves marks of the fold in a
// type: "ou:" folded before ": …" would be read as text beginning with a
// colon, "ob" folded before "jectClass" not as objectClass.
char *unfolded(char *begin, char *end)
{
    char *out = begin;
    for (const char *in = begin; in < end;) {
        const char *lf = static_cast<const char *>(std::memchr(in, '\n', static_cast<size_t>(end - in)));
        const char *const next = lf ? lf + 1 : end;
        std::memmove(out, in, static_cast<size_t>(next - in));
        out += next - in;
        in = next;
        if (in < end && *in == ' ') { // the line goes on
            --out;
            ++in;
        }
    }
    return out;
}

// Ends the record from `begin` to `end` with a NUL, as libldap is to read it:
// without the CRs of its CR LF line ends when it has any (`crs`), as libldap
// reads a change record's "-" only without one, and unfolded when it has
// continuation lines (`folded`). Every CR is at a line end by now. Returns
// its size.
size_t asLibldapReadsIt(char *begin, char *end, bool crs, bool folded)
{
    // Line by line rather than byte by byte: this runs for every record of a
    // large file with Windows line ends.
    char *out = crs ? static_cast<char *>(std::memchr(begin, '\r', static_cast<size_t>(end - begin))) : nullptr;
    if (out) {
        for (const char *in = out + 1; in < end;) {
            const char *cr = static_cast<const char *>(std::memchr(in, '\r', static_cast<size_t>(end - in)));
            const char *const next = cr ? cr : end;
            std::memmove(out, in, static_cast<size_t>(next - in));
            out += next - in;
            in = next + 1;
        }
        end = out;
    }
    if (folded)
        end = unfolded(begin, end);
    *end = '\0';
    return static_cast<size_t>(end - begin);
}

void appendLine(QByteArray &out, int type, const char *name, QByteArrayView value)
{
    Text line(ldif_put_wrap(type, name, value.data(), static_cast<ber_len_t>(value.size()), LDIF_LINE_WIDTH_MAX));
    if (!line)
        throw platform::Error(QStringLiteral("Kein Speicher für den Journaleintrag"));
    out += line.get();
}
} // namespace

void forEachRecord(QIODevice &in, qint64 size, const QString &fileName, const std::function<void(const Record &)> &handle,
                   const std::function<void(QByteArrayView dn)> &ahead)
{
    // Records are cut out here, counting lines as we go, and each is parsed in
    // place by libldap; ldif_read_record would copy them, count no lines, and
    // follow include: lines. The data is read in chunks, so that a large file
    // is never held whole.
    constexpr qsizetype kChunk = 256 * 1024;
    QByteArray buffer;
    qsizetype filled = 0;  // bytes read into buffer
    qsizetype scanned = 0; // where the next line begins
    qsizetype record = -1; // where the open record begins
    unsigned long recordLine = 0;
    unsigned long lineNumber = 1;
    bool crs = false; // whether the data read so far holds a CR
    bool inModify = false;
    bool inComment = false;
    bool first = true;
    bool folded = false; // the open record has continuation lines
    for (bool atEnd = false; !atEnd;) {
        // Keep the open record, or the line begun, and read on behind it.
        const qsizetype keep = record >= 0 ? record : scanned;
        std::memmove(buffer.data(), buffer.constData() + keep, static_cast<size_t>(filled - keep));
        filled -= keep;
        scanned -= keep;
        if (record >= 0)
            record = 0;
        if (buffer.size() < filled + kChunk + 1) // + 1: room for the NUL that ends the last record
            buffer.resize(filled + kChunk + 1);
        const qint64 got = in.read(buffer.data() + filled, std::min<qint64>(kChunk, size));
        if (got < 0)
            throw platform::Error(QStringLiteral("Datei %1 kann nicht gelesen werden: %2").arg(fileName, platform::errnoText(errno)));
        size -= got;
        char *const fresh = buffer.data() + filled;
        filled += got;
        atEnd = got == 0;
        if (atEnd && filled > scanned && buffer.at(filled - 1) != '\n')
            buffer[filled++] = '\n'; // libldap counts a record's lines by their ends, and overruns without one
        // A NUL makes libldap run two records together.
        if (const char *nul = static_cast<const char *>(std::memchr(fresh, '\0', static_cast<size_t>(got))))
            throw lineError(fileName, lineNumber + static_cast<unsigned long>(std::count(buffer.constData() + scanned, nul, '\n')),
                            QStringLiteral("NUL-Zeichen in der Datei"));
        crs = crs || std::memchr(fresh, '\r', static_cast<size_t>(got));

        char *const data = buffer.data();
        while (char *const lf = static_cast<char *>(std::memchr(data + scanned, '\n', static_cast<size_t>(filled - scanned)))) {
            char *const line = data + scanned;
            char *contentEnd = lf;
            if (crs) { // libldap drops a CR inside a line silently
                if (contentEnd > line && contentEnd[-1] == '\r')
                    --contentEnd;
                if (std::memchr(line, '\r', static_cast<size_t>(contentEnd - line)))
                    throw lineError(fileName, lineNumber, QStringLiteral("Wagenrücklauf (CR) mitten in der Zeile"));
            }
            scanned = lf + 1 - data;
            const QByteArrayView content(line, contentEnd);
            if (content.isEmpty()) { // a blank line ends the record
                if (record >= 0) {
                    if (folded)
                        checkUnfolded(QByteArrayView(data + record, line), recordLine, fileName);
                    parseRecord(data + record, asLibldapReadsIt(data + record, line, crs, folded), recordLine, fileName,
                                handle);
                    record = -1;
                }
                inComment = false;
            } else if (content.front() == ' ') {
                if (record < 0 && !inComment)
                    throw lineError(fileName, lineNumber, QStringLiteral("Fortsetzungszeile ohne Zeile davor"));
                folded = folded || !inComment;
            } else if (content.front() == '#') {
                inComment = true;
            } else if (std::exchange(first, false) && isLine(content, "version")) {
                if (!isLine(content, "version", "1"))
                    throw lineError(fileName, lineNumber, QStringLiteral("nur LDIF-Version 1 wird gelesen"));
                inComment = true; // nothing of it reaches libldap
            } else if (record < 0) {
                checkAttributeLine(content, false, fileName, lineNumber);
                // "d" or "dn" may go on in a continuation line: checked unfolded.
                if (!isLine(content, "dn") && !QByteArrayView("dn").startsWith(content))
                    throw lineError(fileName, lineNumber, QStringLiteral("ein Eintrag beginnt mit dn:"));
                record = line - data;
                recordLine = lineNumber;
                inModify = false;
                folded = !isLine(content, "dn");
                if (ahead && !folded && !content.sliced(3).startsWith(':'))
                    ahead(content.sliced(3).trimmed());
                inComment = false;
            } else {
                // A folded changetype line leaves "-" to the unfolded check.
                checkAttributeLine(content, inModify || folded, fileName, lineNumber);
                inModify = inModify || isLine(content, "changetype", "modify");
                inComment = false;
            }
            ++lineNumber;
        }
    }
    if (record >= 0) {
        if (folded)
            checkUnfolded(QByteArrayView(buffer.constData() + record, filled - record), recordLine, fileName);
        parseRecord(buffer.data() + record, asLibldapReadsIt(buffer.data() + record, buffer.data() + filled, crs, folded),
                    recordLine, fileName, handle);
    }
}

QByteArray replaceRecord(QByteArrayView dn, QByteArrayView type, const QList<QByteArray> &oldValues,
                         const QList<QByteArray> &newValues)
{
    const QByteArray typeText = type.toByteArray(); // ldif_put_wrap wants it NUL-terminated
    QByteArray out;
    appendLine(out, LDIF_PUT_VALUE, "dn", dn);
    out += "changetype: modify\n";
    if (!oldValues.isEmpty()) {
        appendLine(out, LDIF_PUT_VALUE, "delete", type);
        for (const QByteArray &value : oldValues)
            appendLine(out, LDIF_PUT_VALUE, typeText.constData(), value);
        out += "-\n";
    }
    if (!newValues.isEmpty()) {
        appendLine(out, LDIF_PUT_VALUE, "add", type);
        for (const QByteArray &value : newValues)
            appendLine(out, LDIF_PUT_VALUE, typeText.constData(), value);
        out += "-\n";
    }
    out += '\n';
    return out;
}

} // namespace directory::ldif
