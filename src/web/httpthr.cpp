// THTTPThread: reading one request within its bounds, the dispatch, sending and the two file
// responses. The pages themselves are in httpthr-pages.cpp.
#include "web/httpthr.h"

#include "web/servedfile.h"

#include "platform/datetime.h"
#include "platform/strutil.h"

#include <exception>

namespace {

const char* const StatusLine = "HTTP/1.0 200 OK";
const char* const ServerLine = "Server: Korvel Web Server/1.0 ";

// The lines of a text file: split at LF, a CR before it dropped; a last line without LF counts.
std::vector<std::string> TextLines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t lf = content.find('\n', start);
        std::size_t end = lf == std::string::npos ? content.size() : lf;
        std::size_t length = end - start;
        if (length > 0 && content[end - 1] == '\r') --length;
        lines.push_back(content.substr(start, length));
        start = end + 1;
    }
    return lines;
}

} // namespace

void THTTPThread::Shed() {
    if (!m_shed.exchange(true)) CancelSocket();
}

void THTTPThread::Execute() {
    try {
        while (!Terminated() && Socket->IsOpen()) {
            THTTPRequest request;
            bool complete = ReadRequest(request);
            m_reading = false;
            if (complete && !LoginAccepted()) {
                SendUnauthorized();
            } else if (complete) {
                Respond(request);
                if (!m_answered) RespondWithStatus(); // only where none of the four pages answers
            }
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
        m_requestLines.push_back(line);
    }
    Params = request.Params;
    m_sameSite = request.SameSite();
    return true;
}

void THTTPThread::Respond(const THTTPRequest& request) {
    if (request.Root) {
        BuildMainPage();
        SendPageLines();
    } else if (request.TextFile) {
        LoadHtmFile(request.Path);
        SendPageLines();
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
    ImageStream.seekg(0);
    Socket->SendStream(ImageStream, 0);
}

bool THTTPThread::LoadImage(const std::string& path) {
    PageLines.clear();
    ImageStream.str(std::string());
    ImageStream.clear();
    std::string content;
    if (ReadServedFile(path, content) == TServedFile::Failed) return false;
    ImageStream.str(content);
    PageLines = {StatusLine, ServerLine, "Content-Type: image/gif ", Format("Content-Length: %zu", content.size())};
    return true;
}

// The length announced is the body actually sent: the empty line after the header's end, then
// every line with its CR LF.
bool THTTPThread::LoadHtmFile(const std::string& path) {
    std::string content;
    TServedFile result = ReadServedFile(path, content);
    std::vector<std::string> lines = TextLines(content);
    std::size_t length = 2;
    for (const std::string& line : lines)
        length += line.size() + 2;
    PageLines = {StatusLine, ServerLine, "Content-Type: Text/Html ", Format("Content-Length: %zu ", length), "\r\n"};
    PageLines.insert(PageLines.end(), lines.begin(), lines.end());
    return result != TServedFile::Failed;
}
