// THTTPThread beyond the four pages: the status paths /status, /status.json and /metrics, answered
// only where none of the four pages answers.
#include "web/httpthr.h"
#include "web/responsehead.h"
#include "web/statusbody.h"

#include "platform/codepage.h"
#include "platform/strutil.h"

#include <memory>

void THTTPThread::RespondWithStatus(const THTTPRequest& request) {
    if (request.PlainPost) RespondToMaintenance(request);
    if (Board == nullptr || !request.PlainGet) return;
    TStatusView view;
    const std::unique_ptr<TStatusBody> body =
        StatusBodyFor(request.TargetPath, request.QueryField("q"), request.QueryField("history"), view);
    if (!body) return;
    view.Load(*Board);
    if (Maintenance) view.LoadMaintenance(*Maintenance);
    view.DaemonId = AsUtf8(DaemonId);
    view.DatabaseUp = DatabaseUp;
    view.PollDelay = Settings.PollDelay;
    SendStatusBody(*body, view);
}

// Every client of the whole board asks for the same bytes: they are made once per snapshot and
// shared. Any other body is made twice, once to measure it and once to send it block by block, so a
// response never holds more than a block of its own however slowly its client reads.
void THTTPThread::SendStatusBody(const TStatusBody& body, const TStatusView& view) {
    const char* contentType = body.ContentType();
    if (body.SameForEveryone()) {
        SendGenerated(contentType, *SharedStatusBody(body, view));
        return;
    }
    std::size_t length = 0;
    TBodyOut measure([&length](const std::string& block) { length += block.size(); });
    body.Write(measure);
    measure.Flush();
    SendHead(contentType, length);
    TBodyOut send([this](const std::string& block) { Socket->SendBuffer(block.data(), block.size()); });
    body.Write(send);
    send.Flush();
}

void THTTPThread::SendGenerated(const char* contentType, const std::string& body) {
    SendHead(contentType, body.size());
    Socket->SendBuffer(body.data(), body.size());
}

void THTTPThread::SendHead(const char* contentType, std::size_t length) {
    const std::string head = std::string(StatusLine) + "\r\n" + ServerLine + "\r\nContent-Type: " + contentType +
                             "\r\nCache-Control: no-store\r\n" + Format("Content-Length: %zu\r\n\r\n", length);
    m_answered = true;
    Socket->SendBuffer(head.data(), head.size());
}
