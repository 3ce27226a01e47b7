// THTTPThread's POST /status/ack: an outage acknowledged from the status page. Guarded like a settings
// save (the login, the Host rule, and no request from another site's page); the acknowledgement is
// stored on the request's own connection before the answer, then handed to the daemon, and the browser
// is sent back to the board.
#include "db/ackrows.h"
#include "web/ackrules.h"
#include "web/httpthr.h"
#include "web/statusboard.h"

#include "platform/activitylog.h"
#include "platform/strutil.h"

// Outages are acknowledged only while the daemon follows them up; otherwise the path stays silent.
bool THTTPThread::WantsAckBody(const THTTPRequest& request) const {
    return Acknowledge && Board != nullptr && request.PlainPost && request.TargetPath == "/status/ack" &&
           request.ContentLength >= 0 && request.ContentLength <= static_cast<long long>(MaxFormBytes) &&
           Board->Current()->Summary.Acknowledging;
}

void THTTPThread::RespondToAck(const THTTPRequest& request) {
    if (!WantsAckBody(request)) return;
    const std::shared_ptr<const TBoardSnapshot> board = Board->Current();
    if (!m_sameSite) return; // a form on another site's page: nothing is stored and nothing sent
    const std::string code = Trim(request.BodyField("code"));
    const std::string comment = Trim(request.BodyField("comment"));
    if (!AckTextUsable(code, comment)) {
        SendShort("400 Bad Request", "", "The code or the comment cannot be used.\n");
        return;
    }
    const std::string known = OpenOutageCode(*board, code);
    if (known.empty()) {
        SendShort("409 Conflict", "", "No open outage of " + code + " to acknowledge.\n");
        return;
    }
    std::optional<AckRow> row;
    if (!WithOwnDatabase("Storing the acknowledgement of " + known, [&](const auto& query) {
            row = AckRows(query()).Acknowledge(known, MadeBy(), comment, GetClock().Now());
        })) {
        SendShort("503 Service Unavailable", "",
                  "The acknowledgement could not be stored in the database; try again.\n");
        return;
    }
    if (!row) {
        SendShort("409 Conflict", "", "No open outage of " + known + " to acknowledge.\n");
        return;
    }
    WriteLog("MAIL", "Outage of " + known + " acknowledged by " + MadeBy() + ": " + comment);
    Acknowledge(known, MadeBy(), comment);
    SendShort("303 See Other", "Location: /status\r\n", "Acknowledged " + known + ".\n");
}
