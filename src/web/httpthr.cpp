// THTTPThread: reading one request within its bounds, the dispatch, sending and the two file
// responses. The pages themselves are in httpthr-pages.cpp.
#include "web/httpthr.h"

#include "web/responsehead.h"
#include "web/servedfile.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <sys/resource.h>

#include <exception>

namespace {

// Linux gives each thread its own nice value; at 19 a busy answer weighs about 1/70 of the scan.
constexpr int WebThreadNice = 19;

// Only a path that itself names an image or a page is served; any other file beside the program
// (the database, vkt.ini, the binary) gets what a missing file gets.
bool IsImagePath(const std::string& path) {
    return HasServedSuffix(path, ".gif");
}
bool IsTextFilePath(const std::string& path) {
    return HasServedSuffix(path, ".htm") || HasServedSuffix(path, ".html");
}

} // namespace

void THTTPThread::Shed() {
    if (!m_shed.exchange(true)) CancelSocket();
}

void THTTPThread::Execute() {
    // Answers yield the processor to the scan: a crowd of clients slows the answers, not the probes.
    ::setpriority(PRIO_PROCESS, 0, WebThreadNice);
    try {
        while (!Terminated() && Socket->IsOpen()) {
            THTTPRequest request;
            bool complete = ReadRequest(request);
            m_reading = false;
            if (complete) Answer(request);
            Socket->Close();
        }
    } catch (const std::exception&) {
        // The conversation ends here: nothing more is sent and nothing is logged.
    }
    m_reading = false;
}

// Reads the lines up to and including the first empty one and classifies each. A request over a
// bound (too many lines, a NUL byte; a line too long raises) is false: it gets no answer.
bool THTTPThread::ReadRequest(THTTPRequest& request) {
    int count = 0;
    std::string line = "KORWEB_START";
    while (!line.empty()) {
        line = Socket->ReadLine();
        if (line.find('\0') != std::string::npos) return false;
        if (!line.empty() && ++count > MaxRequestLines) return false;
        request.Classify(line);
    }
    if (WantsAckBody(request)) {
        request.Body = Socket->ReadBytes(std::size_t(request.ContentLength));
        if (request.Body.size() != std::size_t(request.ContentLength)) return false;
    }
    Params = request.Params;
    m_sameSite = request.SameSite();
    return true;
}

// What the guards let through is answered; a request they silence gets no byte.
void THTTPThread::Answer(const THTTPRequest& request) {
    switch (Guard ? Guard->Screen(request) : TWebGuard::TVerdict::Answer) {
    case TWebGuard::TVerdict::Silence:
        return;
    case TWebGuard::TVerdict::AskLogin:
        SendUnauthorized();
        return;
    case TWebGuard::TVerdict::Answer:
        break;
    }
    Respond(request);
    if (!m_answered) RespondWithStatus(request); // only where none of the four pages answers
    if (!m_answered) RespondToAck(request);
    if (!m_answered) RespondToWellKnown(request);
}

void THTTPThread::SendUnauthorized() {
    const std::string body = "401 Unauthorized\n";
    const std::string bytes = std::string("HTTP/1.0 401 Unauthorized\r\n") + ServerLine +
                              "\r\nWWW-Authenticate: Basic realm=\"vkt\"\r\n"
                              "Content-Type: text/plain; charset=utf-8\r\n" +
                              Format("Content-Length: %zu\r\n\r\n", body.size()) + body;
    m_answered = true;
    Socket->SendBuffer(bytes.data(), bytes.size());
}

void THTTPThread::Respond(const THTTPRequest& request) {
    if (request.Root) {
        BuildMainPage();
        SendPageLines();
    } else if (request.TextFile) {
        LoadHtmFile(request.Path);
        SendPageLines();
        SendTextFile();
    } else if (request.Image) {
        if (LoadImage(request.Path)) SendImage();
    } else if (request.Query) {
        RespondToQuery();
    }
}

void THTTPThread::RespondToQuery() {
    if (Params[0] == TQueryParam("mode", "View+Log")) {
        BuildLogPage(FormatDateTime("yyyy-mm-dd", Now()) + ".log");
        SendPageLines();
    } else if (Params[0] == TQueryParam("mode", "+Settings+")) {
        BuildSettingsPage();
        SendPageLines();
    } else {
        for (const TQueryParam& param : Params)
            if (param == TQueryParam("mode", "Save+Changes") && SaveSettings()) SendPageLines();
    }
}

// Each element goes out followed by CR LF; the whole response leaves in one send.
void THTTPThread::SendPageLines() {
    std::string bytes;
    for (const std::string& line : PageLines)
        bytes += line + "\r\n";
    PageLines.clear();
    m_answered = true;
    Socket->SendBuffer(bytes.data(), bytes.size());
}

void THTTPThread::SendImage() {
    PageLines.push_back("");
    SendPageLines();
    ServedFile.ForEachBlock(ServedFile.Size(),
                            [this](const char* data, std::size_t size) { Socket->SendBuffer(data, size); });
}

// The lines of the text file, each ending in CR LF, exactly as LoadHtmFile measured them.
void THTTPThread::SendTextFile() {
    TTextLines lines([this](const char* data, std::size_t size) { Socket->SendBuffer(data, size); });
    if (ServedFile.ForEachBlock(ServedFile.Size(),
                                [&lines](const char* data, std::size_t size) { lines.Add(data, size); }))
        lines.Finish();
}

bool THTTPThread::LoadImage(const std::string& path) {
    PageLines.clear();
    ServedFile.Close();
    if (IsImagePath(path) && ServedFile.Open(path) == TServedFileState::Failed) return false;
    PageLines = {StatusLine, ServerLine, "Content-Type: image/gif ",
                 Format("Content-Length: %llu", (unsigned long long)ServedFile.Size())};
    return true;
}

// The length announced is the body actually sent: the empty line after the header's end, then
// every line with its CR LF. The file is measured here and sent from the same open file.
bool THTTPThread::LoadHtmFile(const std::string& path) {
    ServedFile.Close();
    TServedFileState state = IsTextFilePath(path) ? ServedFile.Open(path) : TServedFileState::Missing;
    std::uint64_t length = 0;
    TTextLines measure([&length](const char*, std::size_t size) { length += size; });
    if (state == TServedFileState::Open &&
        ServedFile.ForEachBlock(ServedFile.Size(),
                                [&measure](const char* data, std::size_t size) { measure.Add(data, size); })) {
        measure.Finish();
    } else {
        if (state == TServedFileState::Open) state = TServedFileState::Failed;
        ServedFile.Close();
        length = 0;
    }
    PageLines = {StatusLine, ServerLine, "Content-Type: Text/Html ",
                 Format("Content-Length: %llu ", (unsigned long long)(length + 2)), "\r\n"};
    return state != TServedFileState::Failed;
}
