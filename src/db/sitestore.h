// The one place that writes the monitored sites: a row of table site and the VKT rows that say which
// daemon probes it. Values are checked against the columns before any statement runs, and every
// change is one transaction, so a scan never sees a site without its VKT row or the reverse.
// Alarm rows of a deleted site are left to the daily purge.
#pragma once

#include "db/dbaccess.h"
#include "platform/errors.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

/// A site as files and requests give it, every value as text. Downtime is whole minutes; ContactFlag
/// is empty (no notice) or an integer (2 mail to Email, 3 pop-up); Name and Email may be empty.
struct SiteFields {
    std::string Code;
    std::string Name;
    std::string Address;
    std::string Downtime;
    std::string Email;
    std::string ContactFlag;
    /// The Daemon ID of the VKT row.
    std::string Daemon;

    bool operator==(const SiteFields&) const = default;
};

/// A refused value: the field's name as files and requests spell it ("code", "name", "address",
/// "downtime", "email", "contactflag", "daemon") and why.
struct FieldError {
    std::string Field;
    std::string Message;
    bool operator==(const FieldError&) const = default;
};

/// Why `code` cannot be given to a new site, wherever sites are made (requests, files, restores);
/// "" when it can. A code is one segment of the API's paths, so it holds no control character (NUL
/// included) and no slash, and it is neither "." nor "..".
std::string SiteCodeProblem(const std::string& code);

/// A site whose values the columns cannot take; the first refusal is the message.
class ESiteInvalid : public Exception {
public:
    explicit ESiteInvalid(std::vector<FieldError> errors);
    const std::vector<FieldError>& Errors() const { return m_errors; }

private:
    std::vector<FieldError> m_errors;
};

/// Create of a code the site table already holds.
class ESiteExists : public Exception {
public:
    using Exception::Exception;
};

/// Update or delete of a code the site table does not hold.
class ESiteMissing : public Exception {
public:
    using Exception::Exception;
};

/// One step of a change set: what Apply does to one code.
struct SiteChange {
    enum class Kind { Create, Update, Delete };
    Kind What = Kind::Create;
    /// For Delete only Code and Daemon count (see Delete).
    SiteFields Site;
};

/// A site's whole list of tags (valid, NormalTags), written with a change set.
struct SiteTagChange {
    std::string Code;
    std::vector<std::string> Tags;
};

class SiteStore {
public:
    /// Every statement runs on `query` (a connection of its own for a thread of its own).
    SiteStore(TDbQuery& query, TDbDialect dialect);

    /// Why the columns cannot take the site's values; empty when they can. The address is checked
    /// against the width the site table has in this database.
    std::vector<FieldError> Validate(const SiteFields& site);

    /// The sites a daemon probes, by code; every site with its first daemon when `daemon` is empty.
    std::vector<SiteFields> List(const std::string& daemon);
    /// At most `count` site rows after the code `after` ("" from the first), by code, as List gives
    /// them; a code's rows are not split between two calls (unless one code has more than `count`).
    /// Each call reads a bounded part of the tables, so a long list is read a part at a time.
    /// Without `daemon`, Daemon is each code's first daemon from `daemons` (FirstDaemons, read once for
    /// a long list), or left empty for AddFirstDaemons.
    std::vector<SiteFields> ListAfter(const std::string& daemon, const std::string& after, std::size_t count,
                                      const std::unordered_map<std::string, std::string>* daemons = nullptr);
    /// Every code's first daemon (by Daemon ID), by SiteCodeKey, in one pass over VKT.
    std::unordered_map<std::string, std::string> FirstDaemons();
    /// Sets each site's first daemon, read for these codes only (one pass over VKT).
    void AddFirstDaemons(std::vector<SiteFields>& sites);
    /// One site with its first daemon (by Daemon ID); none when the code is unknown.
    std::optional<SiteFields> Find(const std::string& code);

    /// Adds the site row and its VKT row. ESiteInvalid, ESiteExists.
    void Create(const SiteFields& site);
    /// Rewrites the site row's columns named in SiteFields (the others keep their values) and adds the
    /// VKT row of site.Daemon when missing; other daemons keep probing it. ESiteInvalid, ESiteMissing.
    void Update(const SiteFields& site);
    /// Removes the site row and every VKT row of the code. With a daemon, removes that daemon's VKT
    /// row only, and the site row too when no other daemon probes it. A site gone takes its tags.
    /// ESiteMissing.
    void Delete(const std::string& code, const std::string& daemon = "");
    /// The changes in order, then the tags, in one transaction: all of them or none.
    void Apply(const std::vector<SiteChange>& changes, const std::vector<SiteTagChange>& tags = {});

    /// The characters the site table's address column takes in this database.
    std::size_t AddressWidth();

private:
    void Check(const SiteFields& site);
    bool SiteExists(const std::string& code);
    void DoCreate(const SiteFields& site);
    void DoUpdate(const SiteFields& site);
    void DoDelete(const std::string& code, const std::string& daemon);
    void Link(const std::string& daemon, const std::string& code);
    void RunChange(const SiteChange& change);
    /// `select` (a SELECT without its keyword) limited to its first `count` rows in this dialect.
    std::string FirstRows(const std::string& select, std::size_t count) const;
    std::unordered_map<std::string, std::string> ReadFirstDaemons(const std::string& where);

    TDbQuery& m_query;
    TDbDialect m_dialect;
    std::optional<std::size_t> m_addressWidth;
};
