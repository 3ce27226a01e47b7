// Transfers of a stream socket: buffers, lines and streams, each with its time-out restarting on
// every byte of progress.
#include "net/mssocket.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <istream>
#include <vector>

void TmsSocket::SendBuffer(const void* data, std::size_t length) {
    Operation op(*this);
    const char* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    StartCounter();
    while (sent < length) {
        long n = ::send(op.Handle(), bytes + sent, length - sent, Flags | MSG_NOSIGNAL);
        LastResult = n;
        if (n < 0) {
            AfterFailure(op.Handle(), POLLOUT);
        } else {
            ProgressMade();
            sent += std::size_t(n);
        }
        CheckInterrupted();
        Idle();
    }
    StopCounter();
}

void TmsSocket::WriteLine(const std::string& text) {
    std::string line = text + "\r\n";
    SendBuffer(line.data(), line.size());
}

std::string TmsSocket::ReadLine() {
    std::string line;
    {
        Operation op(*this);
        StartCounter();
        line = ReadLineBytes(op.Handle());
        StopCounter();
        Idle();
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    auto cr = line.find('\r');
    if (cr != std::string::npos) line.erase(cr, 1);
    return line;
}

// Peeks at what has arrived and takes from the socket only the bytes up to and including the
// first LF, so that whatever follows the line stays for the next read.
std::string TmsSocket::ReadLineBytes(int fd) {
    std::string line;
    char buffer[LineBufferSize];
    for (;;) {
        long n = ::recv(fd, buffer, LineBufferSize - line.size(), Flags | MSG_PEEK);
        LastResult = n;
        CheckInterrupted();
        if (n < 0) {
            AfterFailure(fd, POLLIN);
            continue;
        }
        if (n == 0) {
            m_disconnected = true;
            ProgressMade();
            return line;
        }
        auto* lf = static_cast<char*>(std::memchr(buffer, '\n', std::size_t(n)));
        long take = lf != nullptr ? long(lf - buffer) + 1 : n;
        n = ::recv(fd, buffer, std::size_t(take), Flags);
        LastResult = n;
        if (n < 0) {
            AfterFailure(fd, POLLIN);
            continue;
        }
        ProgressMade();
        line.append(buffer, std::size_t(n));
        if (!line.empty() && line.back() == '\n') return line;
        if (line.size() >= LineBufferSize) throw EmsLineTooLongError();
        Idle();
    }
}

std::string TmsSocket::ReadBytes(std::size_t count) {
    Operation op(*this);
    std::string bytes;
    StartCounter();
    while (bytes.size() < count) {
        char buffer[LineBufferSize];
        long n = ::recv(op.Handle(), buffer, std::min(sizeof buffer, count - bytes.size()), Flags);
        LastResult = n;
        CheckInterrupted();
        if (n < 0) {
            AfterFailure(op.Handle(), POLLIN);
            continue;
        }
        if (n == 0) {
            m_disconnected = true;
            break;
        }
        ProgressMade();
        bytes.append(buffer, std::size_t(n));
        Idle();
    }
    StopCounter();
    return bytes;
}

void TmsSocket::SendStream(std::istream& stream, std::int64_t start) {
    Operation op(*this); // the whole transfer, progress events included, counts as one call
    stream.clear();
    stream.seekg(0, std::ios::end);
    std::int64_t size = stream.tellg();
    stream.seekg(start, std::ios::beg);
    if (!stream || size < 0) throw EInOutError("Cannot read the stream to send");
    std::vector<char> buffer(StreamBlockSize);
    std::size_t n = 0;
    do {
        stream.read(buffer.data(), std::streamsize(buffer.size()));
        n = std::size_t(stream.gcount());
        if (stream.bad()) throw EInOutError("Cannot read the stream to send");
        stream.clear();
        SendBuffer(buffer.data(), n);
        ReportProgress(stream.tellg(), size);
    } while (n == StreamBlockSize);
}

void TmsSocket::ReportProgress(std::int64_t position, std::int64_t size) {
    if (!OnTransferProgress) return;
    // Rounded to the nearest, ties to even; an empty stream counts as complete.
    int perc = size > 0 ? int(std::nearbyint(double(position) * 100.0 / double(size))) : 100;
    OnTransferProgress(this, perc, position, -1);
}
