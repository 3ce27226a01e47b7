// Writing to a remote mailslot "\\target\mailslot\name" without Windows: each write travels the way
// it does between machines, as one NetBIOS datagram (UDP port 138) carrying an SMB mailslot write.
#pragma once

#include <cstdint>
#include <string>

/// The NetBIOS datagram service port; VKT_MAILSLOT_PORT overrides it (tests, private listeners).
constexpr int NetbiosDatagramPort = 138;

/// The parts of a mailslot path "\\target\mailslot\name"; false when the text is not one.
bool ParseMailslotPath(const std::string& path, std::string& target, std::string& slotName);

/// The 34 bytes of a NetBIOS name in first-level encoding: the name upper-cased, cut to 15 characters,
/// padded with blanks, followed by the suffix byte; each half-byte written as 'A' + value; no scope.
std::string EncodeNetbiosName(const std::string& name, std::uint8_t suffix);

/// What one mailslot write sends: the sender's and the target's NetBIOS names, the sender's address
/// and port as it goes out, the datagram id, the mailslot name ("\MAILSLOT\MESSNGR") and the content.
struct TMailslotDatagram {
    std::string SourceName;
    std::string TargetName;
    std::uint32_t SourceAddress = 0; ///< host order
    std::uint16_t SourcePort = NetbiosDatagramPort;
    std::uint16_t DatagramId = 0;
    std::string MailslotName;
    std::string Content;
};
/// The bytes of the datagram: a DIRECT_UNIQUE NetBIOS datagram whose user data is an
/// SMB_COM_TRANSACTION mailslot write (opcode 1, class 2) of the content.
std::string BuildMailslotDatagram(const TMailslotDatagram& datagram);

/// One open remote mailslot: Open resolves the target (a name or a dotted address), Write sends one
/// datagram. Used by one thread at a time.
class TMailslotWriter {
public:
    TMailslotWriter() = default;
    ~TMailslotWriter();
    TMailslotWriter(const TMailslotWriter&) = delete;
    TMailslotWriter& operator=(const TMailslotWriter&) = delete;

    /// Opens "\\target\mailslot\name" for writing. False when the path is malformed or the target
    /// does not resolve ("cannot be opened"); LastError() tells why.
    bool Open(const std::string& path);
    /// Sends the content in one write; returns how many content bytes went out: all of them when the
    /// whole datagram was sent, 0 otherwise (LastError() tells why).
    std::size_t Write(const std::string& content);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const std::string& LastError() const { return m_lastError; }

private:
    int m_fd = -1;
    std::string m_target;
    std::string m_slotName;
    std::string m_lastError;
};
