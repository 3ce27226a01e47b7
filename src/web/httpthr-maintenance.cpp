// THTTPThread: POST /status/maintenance, the status page's forms that make a maintenance window or end
// one early. Guarded like a settings save: a request from another site is closed unanswered. What is
// made or ended is stored in the table on the request's own connection before the answer, and is in
// force at once.
#include "history/maintenancebook.h"
#include "history/maintenancetable.h"
#include "web/formfields.h"
#include "web/httpthr.h"
#include "web/maintenanceform.h"
#include "web/responsehead.h"

#include "platform/activitylog.h"
#include "platform/strutil.h"

void THTTPThread::RespondToMaintenance(const THTTPRequest& request) {
    if (Maintenance == nullptr || request.TargetPath != "/status/maintenance") return;
    if (!(Guard ? Guard->AllowsChange(request) : request.SameSite())) return;
    if (request.ContentLength < 0 || request.ContentLength > static_cast<long long>(MaxFormBytes)) {
        SendShort("400 Bad Request", "", "The form must come with a Content-Length of at most 4096 bytes.\n");
        return;
    }
    const std::string body = Socket->ReadBytes(std::size_t(request.ContentLength));
    MaintenanceRequest form = ParseMaintenanceForm(body, Maintenance->Now(), Maintenance->Zone());
    MaintenanceBook::Outcome outcome = MaintenanceBook::Outcome::Done;
    const bool stored =
        form.Error.empty() && WithOwnDatabase("Storing a maintenance window", [&](const auto& query) {
            outcome = ApplyMaintenance(*Maintenance, form, MadeBy(), [&](const MaintenanceWindow& w, bool endEarly) {
                TableStore(query(), DaemonId)(w, endEarly);
            });
        });
    if (outcome == MaintenanceBook::Outcome::NoSuchWindow) form.Error = "end_early: no such window running or to come";
    if (!form.Error.empty()) {
        SendShort("400 Bad Request", "", "Maintenance window not changed. " + form.Error + "\n");
        return;
    }
    if (!stored) {
        SendShort("503 Service Unavailable", "",
                  "Maintenance window not changed: it could not be stored in the database; try again.\n");
        return;
    }
    if (outcome == MaintenanceBook::Outcome::Full) {
        SendShort("409 Conflict", "", "Maintenance window not made: " + MaintenanceFullText() + ".\n");
        return;
    }
    SendShort("303 See Other", "Location: /status\r\n", "See /status\n");
}

bool THTTPThread::WithOwnDatabase(const std::string& what,
                                  const std::function<void(const std::function<TDbQuery&()>&)>& work) {
    TDbConnection connection;
    TDbQuery query(connection);
    try {
        work([&]() -> TDbQuery& {
            if (!connection.Connected()) {
                connection.ConnectionString = Settings.Database;
                connection.Open();
            }
            return query;
        });
        return true;
    } catch (const std::exception& e) {
        WriteLog("ERROR", what + ": " + e.what());
        return false;
    }
}

// The [Web] user when a login is set; otherwise the address the request came from.
std::string THTTPThread::MadeBy() const {
    if (Guard && !Guard->LoggedInUser().empty()) return Guard->LoggedInUser();
    return ClientAddress;
}

void THTTPThread::SendShort(const char* status, const std::string& extraHead, const std::string& text) {
    const std::string bytes = std::string("HTTP/1.0 ") + status + "\r\n" + ServerLine + "\r\n" + extraHead +
                              "Content-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\n" +
                              Format("Content-Length: %zu\r\n\r\n", text.size()) + text;
    m_answered = true;
    Socket->SendBuffer(bytes.data(), bytes.size());
}
