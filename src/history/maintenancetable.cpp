// MaintenanceTable: whole seconds since 1970 in bigint columns, so every kind of database stores the
// moments alike. Reading asks first whether the table is there: a daemon nobody made a window for
// never makes it, nor fails a statement on it.
#include "history/maintenancetable.h"

#include "db/common.h"
#include "db/data.h"
#include "db/dbsession.h"
#include "platform/strutil.h"

namespace {

constexpr const char* TableName = "maintenance";

std::string SqlNumber(long long n) {
    return std::to_string(n);
}

long long Int(const TDbQuery& q, const char* column) {
    return VarToIntDef(q.FieldByName(column));
}

} // namespace

const std::vector<std::string>& MaintenanceTable::Ddl() {
    static const std::vector<std::string> ddl = {
        "CREATE TABLE maintenance (id bigint NOT NULL, VKTID varchar(20) NOT NULL, code varchar(30) NOT NULL, "
        "starts bigint NOT NULL, ends bigint NOT NULL, weekdays integer NOT NULL, daytime integer NOT NULL, "
        "seconds integer NOT NULL, ended bigint NOT NULL, reason varchar(200) NOT NULL, madeby varchar(64) NOT NULL)",
        "CREATE UNIQUE INDEX ixmaintenance ON maintenance (id)"};
    return ddl;
}

std::vector<MaintenanceWindow> MaintenanceTable::Load(const std::string& daemonId) {
    std::vector<MaintenanceWindow> windows;
    if (!m_q.Connection().Session().TableExists(TableName)) return windows;
    OpenStatement(m_q, {"SELECT * FROM maintenance WHERE VKTID = " + SQLLiteral(daemonId) + " ORDER BY starts, id"});
    for (; !m_q.Eof(); m_q.Next()) {
        MaintenanceWindow w;
        w.Id = Int(m_q, "id");
        w.Code = VarToStrTrim(m_q.FieldByName("code"));
        w.Start = Int(m_q, "starts");
        w.End = Int(m_q, "ends");
        w.Weekdays = int(Int(m_q, "weekdays"));
        w.DayTime = int(Int(m_q, "daytime"));
        w.Seconds = int(Int(m_q, "seconds"));
        w.Ended = Int(m_q, "ended");
        w.Reason = VarToStrTrim(m_q.FieldByName("reason"));
        w.MadeBy = VarToStrTrim(m_q.FieldByName("madeby"));
        windows.push_back(std::move(w));
    }
    return windows;
}

// Each text is cut to its column at a character boundary: a cut inside a character is text that a
// UTF-8 database refuses.
void MaintenanceTable::Insert(const std::string& daemonId, const MaintenanceWindow& w) {
    CreateTableIfMissing(m_q, TableName, Ddl());
    ExecStatement(m_q, {"INSERT INTO maintenance (id, VKTID, code, starts, ends, weekdays, daytime, seconds, ended, "
                        "reason, madeby) VALUES (" +
                        SqlNumber(w.Id) + ", " + SQLLiteral(daemonId) + ", " + SQLLiteral(CutToBytes(w.Code, 30)) +
                        ", " + SqlNumber(w.Start) + ", " + SqlNumber(w.End) + ", " + SqlNumber(w.Weekdays) + ", " +
                        SqlNumber(w.DayTime) + ", " + SqlNumber(w.Seconds) + ", " + SqlNumber(w.Ended) + ", " +
                        SQLLiteral(CutToBytes(w.Reason, 200)) + ", " + SQLLiteral(CutToBytes(w.MadeBy, 64)) + ")"});
}

void MaintenanceTable::EndEarly(const std::string& daemonId, long long id, long long when) {
    if (!m_q.Connection().Session().TableExists(TableName)) return;
    ExecStatement(m_q, {"UPDATE maintenance SET ended = " + SqlNumber(when) + " WHERE id = " + SqlNumber(id) +
                        " AND VKTID = " + SQLLiteral(daemonId) + " AND ended = 0"});
}

MaintenanceBook::Store TableStore(TDbQuery& query, const std::string& daemonId) {
    return [&query, daemonId](const MaintenanceWindow& w, bool endEarly) {
        MaintenanceTable table(query);
        if (endEarly)
            table.EndEarly(daemonId, w.Id, w.Ended);
        else
            table.Insert(daemonId, w);
    };
}
