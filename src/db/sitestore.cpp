// Site and VKT rows: checks against the columns, and the statements of a change in one transaction.
#include "db/sitestore.h"

#include "platform/probeaddress.h"

#include "db/common.h"
#include "db/data.h"
#include "db/dbsession.h"
#include "db/sitetags.h"
#include "db/tablescripts.h"
#include "platform/strutil.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <unordered_map>

namespace {

/// Characters of UTF-8 text, as the columns count them.
std::size_t CharCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

/// A decimal integer an INTEGER column takes: optional minus, digits, nothing else.
bool ParseInteger(const std::string& text, long long& value) {
    const std::size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == first || text.size() - first > 10) return false;
    for (std::size_t i = first; i < text.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = std::stoll(text);
    return value >= INT_MIN && value <= INT_MAX;
}

/// Why a text value cannot be stored and read back as it is; "" when it can.
std::string TextProblem(const std::string& value, std::size_t width) {
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F) return "contains a control character";
    if (value != Trim(value)) return "has leading or trailing blanks";
    if (CharCount(value) > width) return "is longer than " + std::to_string(width) + " characters";
    return "";
}

bool IsDottedQuad(const std::string& address) {
    const std::vector<std::string> parts = SplitString(address, '.');
    if (parts.size() != 4) return false;
    for (const std::string& part : parts) {
        long long value = 0;
        if (part.empty() || part.size() > 3 || part[0] == '-' || !ParseInteger(part, value) || value > 255)
            return false;
    }
    return true;
}

/// A host name of letters, digits and hyphens in dot-separated labels, the last one not all digits.
bool IsHostName(const std::string& address) {
    if (address.size() > 253) return false;
    const std::vector<std::string> labels = SplitString(address, '.');
    for (const std::string& label : labels) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        for (unsigned char c : label)
            if (!std::isalnum(c) && c != '-') return false;
    }
    const std::string& last = labels.back();
    return !std::all_of(last.begin(), last.end(), [](unsigned char c) { return std::isdigit(c); });
}

/// What the scan can probe: a dotted IPv4 address, an IPv6 literal or a host name, each also as
/// "tcp://host:port".
bool IsProbeAddress(const std::string& address) {
    const ProbeAddress probe = ProbeAddress::Parse(address);
    if (probe.Tcp() || address.find("://") == std::string::npos)
        return !probe.Literal.Empty() || IsDottedQuad(probe.Host) || IsHostName(probe.Host);
    return false;
}

bool IsMailAddress(const std::string& email) {
    const std::size_t at = email.find('@');
    if (at == 0 || at == std::string::npos || email.find('@', at + 1) != std::string::npos) return false;
    if (email.find(' ') != std::string::npos) return false;
    const std::string domain = email.substr(at + 1);
    return domain.find('.') != std::string::npos && IsHostName(domain);
}

/// Adds the refusal of a text field, required or not.
void CheckText(std::vector<FieldError>& errors, const char* field, const std::string& value, std::size_t width,
               bool required) {
    if (value.empty()) {
        if (required) errors.push_back({field, "is required"});
        return;
    }
    if (const std::string problem = TextProblem(value, width); !problem.empty()) errors.push_back({field, problem});
}

std::size_t DeclaredWidth(const char* table, const char* column) {
    return static_cast<std::size_t>(ColumnWidth(table, column));
}

std::string TextOrNull(const std::string& value) {
    return value.empty() ? "NULL" : SQLLiteral(value);
}

/// The width in "VARCHAR(16)"; 0 when there is none.
std::size_t WidthInType(const std::string& type) {
    const std::size_t open = type.find('(');
    long long width = 0;
    if (open == std::string::npos || !ParseInteger(type.substr(open + 1, type.find(')') - open - 1), width)) return 0;
    return width > 0 ? static_cast<std::size_t>(width) : 0;
}

SiteFields SiteOf(const TDbQuery& q, const char* daemonColumn) {
    SiteFields site;
    site.Code = VarToStrTrim(q.FieldByName("CODE"));
    site.Name = VarToStrTrim(q.FieldByName("sitename"));
    site.Address = VarToStrTrim(q.FieldByName("IPaddr"));
    site.Downtime = IntToStr(VarToIntDef(q.FieldByName("Downtime")));
    site.Email = VarToStrTrim(q.FieldByName("email"));
    const Variant& flag = q.FieldByName("contactflag");
    site.ContactFlag = flag.IsNull() ? "" : IntToStr(VarToIntDef(flag));
    site.Daemon = VarToStrTrim(q.FieldByName(daemonColumn));
    return site;
}

/// The columns a listed site is read from (SiteOf), and no others: a long list reads them by the thousand.
const char* const ListedColumns = "site.CODE, site.sitename, site.IPaddr, site.Downtime, site.email, site.contactflag";

std::string FirstMessage(const std::vector<FieldError>& errors) {
    return errors.empty() ? "invalid site" : errors.front().Field + ": " + errors.front().Message;
}

} // namespace

std::string SiteCodeProblem(const std::string& code) {
    for (unsigned char c : code)
        if (c < 0x20 || c == 0x7F) return "contains a control character";
    // The API names a site by its code as one path segment: a slash would split it, and clients
    // resolve "." and ".." segments before they send the path.
    if (code.find('/') != std::string::npos) return "contains a slash";
    if (code == "." || code == "..") return "is . or ..";
    return "";
}

ESiteInvalid::ESiteInvalid(std::vector<FieldError> errors) : Exception(FirstMessage(errors)), m_errors(errors) {}

SiteStore::SiteStore(TDbQuery& query, TDbDialect dialect) : m_query(query), m_dialect(dialect) {}

std::size_t SiteStore::AddressWidth() {
    if (m_addressWidth) return *m_addressWidth;
    std::string sql;
    if (m_dialect == TDbDialect::SQLite)
        sql = "SELECT type AS width FROM pragma_table_info('Site') WHERE name = 'IPaddr' COLLATE NOCASE";
    else if (m_dialect == TDbDialect::PostgreSQL)
        sql = "SELECT character_maximum_length AS width FROM information_schema.columns WHERE table_schema = "
              "current_schema() AND table_name = 'site' AND column_name = 'ipaddr'";
    else if (m_dialect == TDbDialect::SqlServer)
        sql = "SELECT COL_LENGTH('dbo.site', 'IPaddr') AS width";
    std::size_t width = 0;
    if (!sql.empty()) {
        try {
            OpenStatement(m_query, {sql});
            if (!m_query.Eof()) {
                const Variant& value = m_query.FieldByName("width");
                width = m_dialect == TDbDialect::SQLite ? WidthInType(value.AsString())
                                                        : static_cast<std::size_t>(std::max(0LL, VarToIntDef(value)));
            }
        } catch (const Exception&) {
            width = 0; // a catalogue we may not read: the table script's width
        }
    }
    m_addressWidth = width > 0 ? width : DeclaredWidth("site", "IPaddr");
    return *m_addressWidth;
}

std::vector<FieldError> SiteStore::Validate(const SiteFields& site) {
    std::vector<FieldError> errors;
    // A code is the key of both tables: the narrower column decides.
    const std::size_t beforeCode = errors.size();
    CheckText(errors, "code", site.Code, std::min(DeclaredWidth("site", "CODE"), DeclaredWidth("vkt", "sitecode")),
              true);
    if (errors.size() == beforeCode && !site.Code.empty())
        if (const std::string problem = SiteCodeProblem(site.Code); !problem.empty())
            errors.push_back({"code", problem});
    CheckText(errors, "name", site.Name, DeclaredWidth("site", "sitename"), false);
    const std::size_t before = errors.size();
    CheckText(errors, "address", site.Address, AddressWidth(), true);
    if (errors.size() == before && !IsProbeAddress(site.Address))
        errors.push_back({"address", "is not an IPv4 or IPv6 address, a host name or tcp://host:port"});
    long long value = 0;
    if (site.Downtime.empty())
        errors.push_back({"downtime", "is required"});
    else if (!ParseInteger(site.Downtime, value))
        errors.push_back({"downtime", "is not a whole number of minutes"});
    else if (value < 0)
        errors.push_back({"downtime", "is negative"});
    const std::size_t beforeEmail = errors.size();
    CheckText(errors, "email", site.Email, DeclaredWidth("site", "email"), false);
    if (errors.size() == beforeEmail && !site.Email.empty() && !IsMailAddress(site.Email))
        errors.push_back({"email", "is not an e-mail address"});
    // The notice reads the column's number, so "02" is mail as much as "2" is.
    long long flag = 0;
    if (!site.ContactFlag.empty() && !ParseInteger(site.ContactFlag, flag))
        errors.push_back({"contactflag", "is not a whole number"});
    else if (!site.ContactFlag.empty() && flag == 2 && site.Email.empty())
        errors.push_back({"email", "is required when contactflag is 2 (notice by mail)"});
    CheckText(errors, "daemon", site.Daemon, DeclaredWidth("vkt", "VKTID"), true);
    return errors;
}

std::vector<SiteFields> SiteStore::List(const std::string& daemon) {
    if (daemon.empty())
        // One pass over VKT for all sites: a lookup per site would scan it each time, as its index
        // leads with the daemon.
        OpenStatement(m_query,
                      {"SELECT site.*, vktfirst.vktdaemon FROM site LEFT JOIN (SELECT sitecode, MIN(VKTID) AS "
                       "vktdaemon FROM VKT GROUP BY sitecode) vktfirst ON vktfirst.sitecode = site.CODE ORDER BY "
                       "site.CODE"});
    else
        OpenStatement(m_query, {"SELECT site.*, VKT.VKTID AS vktdaemon FROM site INNER JOIN VKT ON VKT.sitecode = "
                                "site.CODE WHERE VKT.VKTID = " +
                                SQLLiteral(daemon) + " ORDER BY site.CODE"});
    std::vector<SiteFields> sites;
    for (; !m_query.Eof(); m_query.Next())
        sites.push_back(SiteOf(m_query, "vktdaemon"));
    return sites;
}

std::string SiteStore::FirstRows(const std::string& select, std::size_t count) const {
    const std::string n = std::to_string(count);
    return m_dialect == TDbDialect::SqlServer ? "SELECT TOP " + n + " " + select : "SELECT " + select + " LIMIT " + n;
}

std::vector<SiteFields> SiteStore::ListAfter(const std::string& daemon, const std::string& after, std::size_t count,
                                             const std::unordered_map<std::string, std::string>* daemons) {
    const std::string from = after.empty() ? "" : "site.CODE > " + SQLLiteral(after);
    // One more row than asked tells whether the last code has more rows beyond the part.
    if (daemon.empty())
        OpenStatement(m_query,
                      {FirstRows(std::string(ListedColumns) + ", '' AS vktdaemon FROM site" +
                                     (from.empty() ? "" : " WHERE " + from) + " ORDER BY site.CODE, site.IPaddr",
                                 count + 1)});
    else
        OpenStatement(m_query,
                      {FirstRows(std::string(ListedColumns) +
                                     ", VKT.VKTID AS vktdaemon FROM site INNER JOIN VKT ON VKT.sitecode = site.CODE "
                                     "WHERE VKT.VKTID = " +
                                     SQLLiteral(daemon) + (from.empty() ? "" : " AND " + from) +
                                     " ORDER BY site.CODE, site.IPaddr",
                                 count + 1)});
    std::vector<SiteFields> sites;
    for (; !m_query.Eof(); m_query.Next())
        sites.push_back(SiteOf(m_query, "vktdaemon"));
    if (sites.size() > count) {
        // The code of the row past the part is left for the next call, unless it fills the part alone.
        const std::string last = SiteCodeKey(sites.back().Code);
        sites.pop_back();
        std::size_t keep = sites.size();
        while (keep > 0 && SiteCodeKey(sites[keep - 1].Code) == last)
            --keep;
        if (keep > 0) sites.resize(keep);
    }
    if (daemon.empty() && daemons != nullptr)
        for (SiteFields& site : sites)
            if (const auto found = daemons->find(SiteCodeKey(site.Code)); found != daemons->end())
                site.Daemon = found->second;
    return sites;
}

std::unordered_map<std::string, std::string> SiteStore::FirstDaemons() {
    return ReadFirstDaemons("");
}

std::unordered_map<std::string, std::string> SiteStore::ReadFirstDaemons(const std::string& where) {
    OpenStatement(m_query, {"SELECT sitecode, MIN(VKTID) AS vktdaemon FROM VKT" + where + " GROUP BY sitecode"});
    std::unordered_map<std::string, std::string> first;
    for (; !m_query.Eof(); m_query.Next())
        first[SiteCodeKey(VarToStrTrim(m_query.FieldByName("sitecode")))] =
            VarToStrTrim(m_query.FieldByName("vktdaemon"));
    return first;
}

// VKT's index leads with the daemon: the part's codes are looked up together, in one pass.
void SiteStore::AddFirstDaemons(std::vector<SiteFields>& sites) {
    if (sites.empty()) return;
    std::string codes;
    for (const SiteFields& site : sites)
        codes += (codes.empty() ? "" : ", ") + SQLLiteral(site.Code);
    const std::unordered_map<std::string, std::string> first = ReadFirstDaemons(" WHERE sitecode IN (" + codes + ")");
    for (SiteFields& site : sites)
        if (const auto found = first.find(SiteCodeKey(site.Code)); found != first.end()) site.Daemon = found->second;
}

std::optional<SiteFields> SiteStore::Find(const std::string& code) {
    OpenStatement(m_query, {"SELECT site.*, (SELECT MIN(VKTID) FROM VKT WHERE VKT.sitecode = site.CODE) AS "
                            "vktdaemon FROM site WHERE site.CODE = " +
                            SQLLiteral(code)});
    if (m_query.Eof()) return std::nullopt;
    return SiteOf(m_query, "vktdaemon");
}

void SiteStore::Create(const SiteFields& site) {
    Apply({{SiteChange::Kind::Create, site}});
}

void SiteStore::Update(const SiteFields& site) {
    Apply({{SiteChange::Kind::Update, site}});
}

void SiteStore::Delete(const std::string& code, const std::string& daemon) {
    SiteChange change{SiteChange::Kind::Delete, {}};
    change.Site.Code = code;
    change.Site.Daemon = daemon;
    Apply({change});
}

void SiteStore::Apply(const std::vector<SiteChange>& changes, const std::vector<SiteTagChange>& tags) {
    // Refused values stop the change set before the transaction starts.
    for (const SiteChange& change : changes)
        if (change.What != SiteChange::Kind::Delete) Check(change.Site);
    // Clearing tags where none were ever written makes no table.
    const bool tagging =
        std::any_of(tags.begin(), tags.end(), [](const SiteTagChange& c) { return !c.Tags.empty(); }) ||
        (!tags.empty() && m_query.Connection().Session().TableExists("sitetag"));
    if (tagging) SiteTags::EnsureTable(m_query);
    RunInTransaction(m_query, m_dialect, [&] {
        for (const SiteChange& change : changes)
            RunChange(change);
        for (const SiteTagChange& change : tagging ? tags : std::vector<SiteTagChange>{})
            SiteTags::Write(m_query, change.Code, change.Tags);
    });
}

void SiteStore::Check(const SiteFields& site) {
    std::vector<FieldError> errors = Validate(site);
    if (!errors.empty()) throw ESiteInvalid(std::move(errors));
}

void SiteStore::RunChange(const SiteChange& change) {
    switch (change.What) {
    case SiteChange::Kind::Create:
        DoCreate(change.Site);
        break;
    case SiteChange::Kind::Update:
        DoUpdate(change.Site);
        break;
    case SiteChange::Kind::Delete:
        DoDelete(change.Site.Code, change.Site.Daemon);
        break;
    }
}

bool SiteStore::SiteExists(const std::string& code) {
    OpenStatement(m_query, {"SELECT CODE FROM site WHERE CODE = " + SQLLiteral(code)});
    return !m_query.Eof();
}

void SiteStore::DoCreate(const SiteFields& site) {
    if (SiteExists(site.Code)) throw ESiteExists("Site \"" + site.Code + "\" exists already.");
    ExecStatement(m_query, {"INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag) VALUES (" +
                            SQLLiteral(site.Code) + ", " + TextOrNull(site.Name) + ", " + SQLLiteral(site.Address) +
                            ", " + site.Downtime + ", " + TextOrNull(site.Email) + ", " +
                            (site.ContactFlag.empty() ? "NULL" : site.ContactFlag) + ")"});
    Link(site.Daemon, site.Code);
}

void SiteStore::DoUpdate(const SiteFields& site) {
    if (!SiteExists(site.Code)) throw ESiteMissing("Site \"" + site.Code + "\" does not exist.");
    ExecStatement(m_query,
                  {"UPDATE site SET sitename = " + TextOrNull(site.Name) + ", IPaddr = " + SQLLiteral(site.Address) +
                   ", Downtime = " + site.Downtime + ", email = " + TextOrNull(site.Email) + ", contactflag = " +
                   (site.ContactFlag.empty() ? "NULL" : site.ContactFlag) + " WHERE CODE = " + SQLLiteral(site.Code)});
    Link(site.Daemon, site.Code);
}

void SiteStore::DoDelete(const std::string& code, const std::string& daemon) {
    if (!SiteExists(code)) throw ESiteMissing("Site \"" + code + "\" does not exist.");
    const std::string literal = SQLLiteral(code);
    if (daemon.empty()) {
        ExecStatement(m_query, {"DELETE FROM VKT WHERE sitecode = " + literal});
        ExecStatement(m_query, {"DELETE FROM site WHERE CODE = " + literal});
    } else {
        ExecStatement(m_query, {"DELETE FROM VKT WHERE VKTID = " + SQLLiteral(daemon) + " AND sitecode = " + literal});
        ExecStatement(m_query, {"DELETE FROM site WHERE CODE = " + literal +
                                " AND NOT EXISTS (SELECT * FROM VKT WHERE sitecode = " + literal + ")"});
    }
    SiteTags::DropOrphaned(m_query, code);
}

void SiteStore::Link(const std::string& daemon, const std::string& code) {
    const std::string id = SQLLiteral(daemon), literal = SQLLiteral(code);
    ExecStatement(m_query,
                  {"INSERT INTO VKT (VKTID, sitecode) SELECT " + id + ", " + literal +
                   " WHERE NOT EXISTS (SELECT * FROM VKT WHERE VKTID = " + id + " AND sitecode = " + literal + ")"});
}
