// TApiUsers: the users' table; the hashes are the admin port login's (libcrypt).
#include "api/apiusers.h"

#include "db/common.h"
#include "db/data.h"

#include "web/basiclogin.h"

namespace {

// A name that is nobody's is checked against this hash all the same, so that the time of an answer
// does not tell which names exist.
const std::string& DecoyHash() {
    static const std::string hash = HashPassword("no such user");
    return hash;
}

} // namespace

TApiUsers::TApiUsers(TDbQuery& query) : m_query(query) {
    CreateTableIfMissing(m_query, "vktuser",
                         {"CREATE TABLE vktuser (name varchar(30) NOT NULL, hash varchar(200) NOT NULL, "
                          "role varchar(10) NOT NULL)",
                          "CREATE UNIQUE INDEX ixVktUser ON vktuser (name)"});
}

void TApiUsers::Add(const std::string& name, const std::string& password, TApiRole role) {
    if (!PlainName(name)) throw ETokenRefused("A user name is 1 to 30 letters, digits, \"_\", \"-\" or \".\".");
    if (password.empty() || password.size() > MaxPassword || password.find('\0') != std::string::npos)
        throw ETokenRefused("A password is 1 to 256 bytes.");
    OpenStatement(m_query, {"SELECT name FROM vktuser WHERE name = " + SQLLiteral(name)});
    if (!m_query.Eof()) throw ETokenRefused("A user named " + name + " exists already.");
    ExecStatement(m_query, {"INSERT INTO vktuser (name, hash, role) VALUES (" + SQLLiteral(name) + ", " +
                            SQLLiteral(HashPassword(password)) + ", " + SQLLiteral(RoleName(role)) + ")"});
}

std::vector<TApiUser> TApiUsers::List() {
    OpenStatement(m_query, {"SELECT name, role FROM vktuser ORDER BY name"});
    std::vector<TApiUser> users;
    for (; !m_query.Eof(); m_query.Next())
        users.push_back({VarToStrTrim(m_query.FieldByName("name")),
                         ParseRole(VarToStrTrim(m_query.FieldByName("role"))).value_or(TApiRole::Viewer)});
    return users;
}

void TApiUsers::Remove(const std::string& name) {
    OpenStatement(m_query, {"SELECT name FROM vktuser WHERE name = " + SQLLiteral(name)});
    if (m_query.Eof()) throw ETokenRefused("No user is named " + name + ".");
    ExecStatement(m_query, {"DELETE FROM vktuser WHERE name = " + SQLLiteral(name)});
}

TApiRole TApiUsers::SetRole(const std::string& name, TApiRole role) {
    OpenStatement(m_query, {"SELECT role FROM vktuser WHERE name = " + SQLLiteral(name)});
    if (m_query.Eof()) throw ETokenRefused("No user is named " + name + ".");
    const TApiRole before = ParseRole(VarToStrTrim(m_query.FieldByName("role"))).value_or(TApiRole::Viewer);
    ExecStatement(m_query,
                  {"UPDATE vktuser SET role = " + SQLLiteral(RoleName(role)) + " WHERE name = " + SQLLiteral(name)});
    return before;
}

std::optional<TApiUser> TApiUsers::SignIn(const std::string& name, const std::string& password) {
    if (name.size() > TApiTokens::MaxNameLength || password.size() > MaxPassword) return std::nullopt;
    OpenStatement(m_query, {"SELECT name, hash, role FROM vktuser WHERE name = " + SQLLiteral(name)});
    if (m_query.Eof()) {
        PasswordMatches(password, DecoyHash());
        return std::nullopt;
    }
    const std::string hash = VarToStrTrim(m_query.FieldByName("hash"));
    const TApiUser user{VarToStrTrim(m_query.FieldByName("name")),
                        ParseRole(VarToStrTrim(m_query.FieldByName("role"))).value_or(TApiRole::Viewer)};
    if (!PasswordMatches(password, hash)) return std::nullopt;
    return user;
}
