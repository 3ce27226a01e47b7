// THTTPThread: POST /status/maintenance, the status page's forms that make a maintenance window or end
// one early. Guarded like a settings save: a request from another site is closed unanswered. What is
// made is in force at once; the scan stores it in the table at its next tick.
#include "history/maintenancebook.h"
#include "web/httpthr.h"
#include "web/maintenanceform.h"
#include "web/responsehead.h"

#include "platform/strutil.h"

namespace {
/// The forms are a few hundred bytes; a longer body is no form of ours.
constexpr long long MaxFormBytes = 4096;
} // namespace

void THTTPThread::RespondToMaintenance(const THTTPRequest& request) {
    if (Maintenance == nullptr || request.TargetPath != "/status/maintenance") return;
    if (!(Guard ? Guard->AllowsChange(request) : request.SameSite())) return;
    if (request.ContentLength < 0 || request.ContentLength > MaxFormBytes) {
        SendShort("400 Bad Request", "", "The form must come with a Content-Length of at most 4096 bytes.\n");
        return;
    }
    const std::string body = Socket->ReadBytes(std::size_t(request.ContentLength));
    MaintenanceRequest form = ParseMaintenanceForm(body, Maintenance->Now(), Maintenance->Zone());
    if (form.Error.empty() && form.EndEarly && !Maintenance->EndEarly(form.EndId))
        form.Error = "end_early: no such window running or to come";
    if (!form.Error.empty()) {
        SendShort("400 Bad Request", "", "Maintenance window not changed. " + form.Error + "\n");
        return;
    }
    if (!form.EndEarly) {
        form.Window.MadeBy = MadeBy();
        Maintenance->Make(form.Window);
    }
    SendShort("303 See Other", "Location: /status\r\n", "See /status\n");
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
