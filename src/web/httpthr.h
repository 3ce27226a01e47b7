// The thread that serves one web administration connection: it reads one request, recognises the
// few forms it knows and answers with a generated page, an image or a text file, then closes.
#pragma once

#include "db/dbaccess.h"
#include "net/mssocket-listener.h"
#include "platform/clock.h"
#include "web/httprequest.h"
#include "web/servedfile.h"
#include "web/webguard.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class MaintenanceBook;
class TStatusBoard;
class TStatusBody;
class TStatusView;

/// The settings the pages show, copied from the data module on the loop thread when the
/// connection arrives (the scan may re-read VKTID meanwhile).
struct TWebSettings {
    std::string VKTID;
    std::string DBServer;
    std::string DataBase;
    std::string DBUser;
    std::string DBPass;
    int PollDelay = 5;
    int MaxLogFileAgeDays = 10;
    /// The connection string the forms' windows and acknowledgements are stored through, on a
    /// connection of the request's own.
    std::string Database;
};

/// Reads a day's log file whole as one consistent snapshot; false when it cannot be read.
using TLogFileReader = std::function<bool(const std::string& fileName, std::string& content)>;

class THTTPThread : public TmsServerThread {
public:
    /// Lines up to the empty line that one request may have; more close the connection unanswered.
    static constexpr int MaxRequestLines = 100;

    // Prepared by the listener's owner when the connection arrives.
    /// The image or text file being served, streamed from the open file.
    TServedFile ServedFile;
    std::vector<std::string> PageLines;
    /// VKTID as stored in vkt.ini when the connection arrived, trimmed.
    std::string DaemonId;
    TWebSettings Settings;
    /// The vkt.ini that SaveSettings writes.
    std::string ConfigFile;
    TLogFileReader ReadLogFile;
    /// The [Web] guards every request meets; none lets every request through.
    std::shared_ptr<const TWebGuard> Guard;
    /// The status board behind /status, /status.json and /metrics; none: those paths stay silent.
    const TStatusBoard* Board = nullptr;
    /// The maintenance windows the status paths show and POST /status/maintenance changes; none:
    /// neither does.
    MaintenanceBook* Maintenance = nullptr;
    /// Whether the database was connected when the connection arrived.
    bool DatabaseUp = false;
    /// Hands an acknowledgement (code, by, comment), stored already, to the daemon; none: POST
    /// /status/ack stays silent.
    std::function<void(const std::string& code, const std::string& by, const std::string& comment)> Acknowledge;

    /// The query fields of the request, in the order received.
    TQueryParams Params;

    void Execute() override;

    // Page builders: each fills PageLines completely and reports success.
    bool BuildMainPage();
    bool BuildLogPage(const std::string& fileName);
    bool BuildSettingsPage();
    bool SaveSettings();
    // The two file responses.
    bool LoadImage(const std::string& path);
    bool LoadHtmFile(const std::string& path);

    /// True until the request's empty line has arrived (or reading ended).
    bool ReadingRequest() const { return m_reading; }
    /// When the thread was made (monotonic).
    Clock::MonoTime Created() const { return m_created; }
    /// Cancels the connection once; later calls do nothing. Safe from any thread.
    void Shed();
    bool IsShed() const { return m_shed; }

private:
    bool ReadRequest(THTTPRequest& request);
    void Answer(const THTTPRequest& request);
    void SendUnauthorized();
    void Respond(const THTTPRequest& request);
    void RespondToQuery();
    void SendPageLines();
    void SendImage();
    void SendTextFile();
    void BuildPageHeader();
    void BuildPageFooter();
    void AddMenuColumn();
    void AddSettingRow(const char* label, const char* name, const std::string& value);
    // The status paths beside the four pages (httpthr-status.cpp).
    void RespondWithStatus(const THTTPRequest& request);
    void SendStatusBody(const TStatusBody& body, const TStatusView& view);
    void SendGenerated(const char* contentType, const std::string& body);
    void SendHead(const char* contentType, std::size_t length);
    /// /status/site with [History]: 400 without a code, 404 when no site has it, else the page.
    void RespondWithSitePage(const THTTPRequest& request, const TStatusView& view);
    /// /favicon.ico (none: 404) and /robots.txt (nothing to index), which browsers and crawlers ask for.
    void RespondToWellKnown(const THTTPRequest& request);
    // POST /status/ack (httpthr-ack.cpp).
    bool WantsAckBody(const THTTPRequest& request) const;
    void RespondToAck(const THTTPRequest& request);
    // POST /status/maintenance (httpthr-maintenance.cpp); MadeBy and SendShort serve the acknowledgement too.
    void RespondToMaintenance(const THTTPRequest& request);
    std::string MadeBy() const;
    void SendShort(const char* status, const std::string& extraHead, const std::string& text);
    /// Runs `work` on a connection of this request's own to Settings.Database, opened when `work` first
    /// asks for it; false, with the error in the log under `what`, when it fails.
    bool WithOwnDatabase(const std::string& what, const std::function<void(const std::function<TDbQuery&()>&)>& work);

    std::atomic<bool> m_reading{true};
    std::atomic<bool> m_shed{false};
    bool m_sameSite = true;
    /// Whether anything has been sent in answer.
    bool m_answered = false;
    Clock::MonoTime m_created = GetClock().Monotonic();
};
