// TWebServer: start-up of the listener, preparation and clean-up of each connection's thread, and
// the two rules that keep silent or slow clients from holding the listener's threads: a request
// must be complete within the server sockets' time-out, and when the threads run short the oldest
// connection still sending its request makes room for the new one.
#include "web/webserver.h"

#include "db/data.h"
#include "platform/profile.h"
#include "platform/strutil.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace {

// How often connections are checked against the request deadline.
constexpr std::chrono::milliseconds SweepInterval{250};

bool ReadWholeFile(const std::string& fileName, std::string& content) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return false;
    std::stringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return !in.bad();
}

TWebSettings DataModuleSettings() {
    TWebSettings settings;
    if (const TVKTDataModule* dm = DataModule()) {
        settings.VKTID = dm->VKTID;
        settings.DBServer = dm->DBServer;
        settings.DataBase = dm->DataBase;
        settings.DBUser = dm->DBUser;
        settings.DBPass = dm->DBPass;
        settings.PollDelay = dm->PollDelay;
        settings.MaxLogFileAgeDays = dm->MaxLogFileAgeDays;
        settings.Database = dm->ConnectionString();
    }
    return settings;
}

} // namespace

TWebServer::TWebServer() : ReadLogFile(ReadWholeFile), ReadSettings(DataModuleSettings) {
    webSock.OnServerThreadStart = [this](TmsListenerSocket* sender, TmsServerThread* thread) {
        webSockServerThreadStart(sender, thread);
    };
    webSock.OnServerThreadTerminate = [this](TmsListenerSocket* sender, TmsServerThread* thread) {
        webSockServerThreadTerminate(sender, thread);
    };
}

TWebServer::~TWebServer() {
    if (m_sweep != 0 && HasMainLoop()) MainLoop().KillTimer(m_sweep);
    webSock.Shutdown();
}

void TWebServer::Start(int port) {
    if (ConfigFile.empty()) ConfigFile = ConfigFileName();
    webSock.Port = port;
    ApplyGuard();
    webSock.ServerThreadClass = ServerThreadClassOf<THTTPThread>();
    webSock.Listen();
    if (m_sweep == 0) m_sweep = MainLoop().SetTimer(SweepInterval, true, [this] { DropOverdueRequests(); });
}

void TWebServer::webSockServerThreadStart(TmsListenerSocket*, TmsServerThread* ServerThread) {
    auto* thread = dynamic_cast<THTTPThread*>(ServerThread);
    if (thread == nullptr) return;
    thread->PageLines.clear();
    thread->ServedFile.Close();
    thread->DaemonId = ReadDaemonId();
    thread->Settings = ReadSettings ? ReadSettings() : TWebSettings();
    thread->ConfigFile = ConfigFile;
    thread->ReadLogFile = ReadLogFile;
    thread->Guard = m_guard;
    thread->Board = Board;
    thread->Acknowledge = Acknowledge;
    thread->Maintenance = Maintenance;
    thread->DatabaseUp = DatabaseUp && DatabaseUp();
    MakeRoomForNewConnection();
}

std::string TWebServer::ReadDaemonId() {
    struct stat info {};
    if (::stat(ConfigFile.c_str(), &info) != 0) {
        m_idKnown = false;
        return ::ReadDaemonId(ConfigFile);
    }
    FileStamp stamp{info.st_dev, info.st_ino, (unsigned long long)info.st_size, info.st_mtim.tv_sec,
                    info.st_mtim.tv_nsec};
    if (!m_idKnown || !(stamp == m_idStamp)) {
        m_daemonId = ::ReadDaemonId(ConfigFile);
        m_idStamp = stamp;
        m_idKnown = true;
    }
    return m_daemonId;
}

void TWebServer::webSockServerThreadTerminate(TmsListenerSocket*, TmsServerThread* ServerThread) {
    auto* thread = dynamic_cast<THTTPThread*>(ServerThread);
    if (thread == nullptr) return;
    thread->PageLines = {};
    thread->ServedFile.Close();
}

// A request still incomplete when the time-out has passed since its connection arrived is
// dropped; the socket's own time-out alone would let a client sending one byte now and then hold
// its thread for ever.
void TWebServer::DropOverdueRequests() {
    const auto limit = std::chrono::seconds(webSock.ServerSocketTimeOut);
    const auto now = GetClock().Monotonic();
    for (TmsServerThread* item : webSock.ConnList.Items()) {
        auto* thread = dynamic_cast<THTTPThread*>(item);
        if (thread != nullptr && thread->ReadingRequest() && now - thread->Created() >= limit) thread->Shed();
    }
}

// Runs before the new thread joins the list. When it would take the last free thread, the
// oldest connection that has not finished its request yet is dropped, so idle connections
// cannot keep a client with a real request waiting in the backlog.
void TWebServer::MakeRoomForNewConnection() {
    if (webSock.MaxServerThreads <= 0 || webSock.ConnList.Count() + 1 < webSock.MaxServerThreads) return;
    THTTPThread* oldest = nullptr;
    for (TmsServerThread* item : webSock.ConnList.Items()) {
        auto* thread = dynamic_cast<THTTPThread*>(item);
        if (thread != nullptr && thread->ReadingRequest() && !thread->IsShed() &&
            (oldest == nullptr || thread->Created() < oldest->Created()))
            oldest = thread;
    }
    if (oldest != nullptr) oldest->Shed();
}
