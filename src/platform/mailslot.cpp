// Remote mailslot writes as NetBIOS datagrams carrying SMB mailslot transactions.
#include "platform/mailslot.h"

#include "platform/progdir.h"
#include "platform/strutil.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::uint8_t DirectUniqueDatagram = 0x10;
constexpr std::uint8_t FirstFragmentBNode = 0x02; // F set, M clear, source node type B
constexpr std::uint8_t SmbComTransaction = 0x25;
constexpr std::uint16_t MailslotWriteOpcode = 1;
constexpr std::uint16_t MailslotClassUnreliable = 2;
constexpr std::uint32_t MailslotTimeoutMs = 1000;
constexpr std::uint8_t WorkstationSuffix = 0x00;
constexpr std::uint8_t MessengerSuffix = 0x03;
constexpr std::size_t SmbHeaderSize = 32;
constexpr std::uint8_t TransactionWordCount = 17; // 14 parameter words and 3 setup words

void PutLE16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}

void PutLE32(std::string& out, std::uint32_t v) {
    PutLE16(out, static_cast<std::uint16_t>(v & 0xffff));
    PutLE16(out, static_cast<std::uint16_t>(v >> 16));
}

// NetBIOS datagram header fields are big-endian, SMB fields little-endian.
void PutBE16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xff);
}

void PutBE32(std::string& out, std::uint32_t v) {
    PutBE16(out, static_cast<std::uint16_t>(v >> 16));
    PutBE16(out, static_cast<std::uint16_t>(v & 0xffff));
}

std::string SmbMailslotWrite(const std::string& mailslotName, const std::string& content) {
    const std::string name = mailslotName + '\0';
    const std::size_t dataOffset = SmbHeaderSize + 1 + 2 * TransactionWordCount + 2 + name.size();
    const auto dataCount = static_cast<std::uint16_t>(content.size());
    std::string smb("\xffSMB", 4);
    smb += static_cast<char>(SmbComTransaction);
    smb.append(SmbHeaderSize - 5, '\0'); // status, flags, PID, signature, TID, UID, MID: all zero
    smb += static_cast<char>(TransactionWordCount);
    PutLE16(smb, 0);         // total parameter count
    PutLE16(smb, dataCount); // total data count
    PutLE16(smb, 0);         // max parameter count
    PutLE16(smb, 0);         // max data count
    smb.append(2, '\0');     // max setup count, reserved
    PutLE16(smb, 0);         // flags
    PutLE32(smb, MailslotTimeoutMs);
    PutLE16(smb, 0); // reserved
    PutLE16(smb, 0); // parameter count
    PutLE16(smb, 0); // parameter offset
    PutLE16(smb, dataCount);
    PutLE16(smb, static_cast<std::uint16_t>(dataOffset));
    smb += static_cast<char>(3); // setup count
    smb += '\0';
    PutLE16(smb, MailslotWriteOpcode);
    PutLE16(smb, 0); // priority
    PutLE16(smb, MailslotClassUnreliable);
    PutLE16(smb, static_cast<std::uint16_t>(name.size() + content.size()));
    return smb + name + content;
}

int DestinationPort() {
    const char* text = std::getenv("VKT_MAILSLOT_PORT");
    int port = 0;
    if (text && TryStrToInt(text, port) && port > 0 && port < 65536) return port;
    return NetbiosDatagramPort;
}

std::uint16_t NextDatagramId() {
    static std::atomic<std::uint16_t> next{static_cast<std::uint16_t>(std::random_device{}())};
    return next++;
}

} // namespace

bool ParseMailslotPath(const std::string& path, std::string& target, std::string& slotName) {
    if (path.rfind("\\\\", 0) != 0) return false;
    const std::size_t targetEnd = path.find('\\', 2);
    if (targetEnd == std::string::npos || targetEnd == 2) return false;
    const std::size_t kindEnd = path.find('\\', targetEnd + 1);
    if (kindEnd == std::string::npos || !SameText(path.substr(targetEnd + 1, kindEnd - targetEnd - 1), "mailslot"))
        return false;
    target = path.substr(2, targetEnd - 2);
    slotName = path.substr(kindEnd + 1);
    return !slotName.empty();
}

std::string EncodeNetbiosName(const std::string& name, std::uint8_t suffix) {
    std::string padded = UpperCase(name.substr(0, 15));
    padded.resize(15, ' ');
    padded += static_cast<char>(suffix);
    std::string out(1, static_cast<char>(32));
    for (unsigned char c : padded) {
        out += static_cast<char>('A' + (c >> 4));
        out += static_cast<char>('A' + (c & 0x0f));
    }
    return out + '\0';
}

std::string BuildMailslotDatagram(const TMailslotDatagram& d) {
    const std::string names =
        EncodeNetbiosName(d.SourceName, WorkstationSuffix) + EncodeNetbiosName(d.TargetName, MessengerSuffix);
    const std::string smb = SmbMailslotWrite(d.MailslotName, d.Content);
    std::string out;
    out += static_cast<char>(DirectUniqueDatagram);
    out += static_cast<char>(FirstFragmentBNode);
    PutBE16(out, d.DatagramId);
    PutBE32(out, d.SourceAddress);
    PutBE16(out, d.SourcePort);
    PutBE16(out, static_cast<std::uint16_t>(names.size() + smb.size()));
    PutBE16(out, 0); // packet offset
    return out + names + smb;
}

TMailslotWriter::~TMailslotWriter() {
    Close();
}

bool TMailslotWriter::Open(const std::string& path) {
    Close();
    if (!ParseMailslotPath(path, m_target, m_slotName)) {
        m_lastError = "Not a mailslot path: " + path;
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const std::string host = m_target == "." ? "127.0.0.1" : m_target;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        m_lastError = "Cannot resolve " + m_target + ": " + gai_strerror(rc);
        return false;
    }
    sockaddr_in to = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    to.sin_port = htons(static_cast<std::uint16_t>(DestinationPort()));
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        m_lastError = "Cannot open the mailslot of " + m_target + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

std::size_t TMailslotWriter::Write(const std::string& content) {
    if (m_fd < 0) {
        m_lastError = "Mailslot is not open";
        return 0;
    }
    sockaddr_in self{};
    socklen_t len = sizeof(self);
    getsockname(m_fd, reinterpret_cast<sockaddr*>(&self), &len);
    TMailslotDatagram d;
    d.SourceName = ComputerName();
    d.TargetName = m_target;
    d.SourceAddress = ntohl(self.sin_addr.s_addr);
    d.SourcePort = ntohs(self.sin_port);
    d.DatagramId = NextDatagramId();
    d.MailslotName = "\\MAILSLOT\\" + UpperCase(m_slotName);
    d.Content = content;
    const std::string bytes = BuildMailslotDatagram(d);
    ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), 0);
    if (sent != static_cast<ssize_t>(bytes.size())) {
        m_lastError = sent < 0 ? std::strerror(errno) : "short datagram";
        return 0;
    }
    return content.size();
}

void TMailslotWriter::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}
