// Building blocks of a mail message: addresses, owned lists of addresses and attachments, header
// lines, and the functions that read values and addresses out of header lines.
#pragma once

#include "platform/errors.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// A list of text lines (message body, header lines, encoded lines).
using TmsStrings = std::vector<std::string>;
/// Header lines: "Name: value" lines, each optionally followed by continuation lines that begin
/// with a space or a tab.
using TmsHeaders = TmsStrings;

/// The longest short-text field (names, addresses, subject, content types, file names).
constexpr std::size_t ShortTextMax = 255;
/// The first 255 characters of a text: what a short-text field keeps.
std::string ShortText(std::string_view text);

/// An index outside a list.
class EListError : public Exception {
public:
    using Exception::Exception;
};

/// Transfer encoding of one attachment.
enum TmsAttEncoding { aeSevenBit, aeBase64, aeQuotedPrintable };

/// A display name and a mailbox (local part and domain, without angle brackets).
class TmsMailAddress {
public:
    TmsMailAddress() = default;
    TmsMailAddress(std::string_view address, std::string_view name);

    const std::string& Name() const { return m_name; }
    void SetName(std::string_view name) { m_name = ShortText(name); }
    const std::string& Address() const { return m_address; }
    void SetAddress(std::string_view address) { m_address = ShortText(address); }

    void Assign(const TmsMailAddress& source);
    void Clear();

private:
    std::string m_name;
    std::string m_address;
};

/// An ordered list that owns its items; copying a list copies every item.
template <class T> class TmsOwnedList {
public:
    TmsOwnedList() = default;
    TmsOwnedList(const TmsOwnedList& source) { Assign(source); }
    TmsOwnedList& operator=(const TmsOwnedList& source) {
        if (this != &source) Assign(source);
        return *this;
    }
    virtual ~TmsOwnedList() { Clear(); }

    int Count() const { return static_cast<int>(m_items.size()); }
    /// The item at a 0-based index; EListError for an index outside 0..Count-1.
    T& Items(int index) { return *m_items[CheckIndex(index)]; }
    const T& Items(int index) const { return *m_items[CheckIndex(index)]; }
    /// Appends an item and takes it over.
    T& Add(std::unique_ptr<T> item) {
        m_items.push_back(std::move(item));
        return *m_items.back();
    }
    /// Destroys every item, last to first.
    void Clear() {
        while (!m_items.empty())
            m_items.pop_back();
    }
    /// Clears the list, then appends a copy of every item of `source`, in order.
    void Assign(const TmsOwnedList& source) {
        if (this == &source) return;
        Clear();
        for (const auto& item : source.m_items) {
            auto copy = std::make_unique<T>();
            copy->Assign(*item);
            Add(std::move(copy));
        }
    }

private:
    std::size_t CheckIndex(int index) const {
        if (index < 0 || index >= Count()) throw EListError("List index out of bounds (" + std::to_string(index) + ")");
        return static_cast<std::size_t>(index);
    }

    std::vector<std::unique_ptr<T>> m_items;
};

class TmsAddressList : public TmsOwnedList<TmsMailAddress> {
public:
    /// Appends a new address; the address is set before the name.
    TmsMailAddress& AddAddress(std::string_view address, std::string_view name);
};

/// One attachment: its bytes, file name, content type and transfer encoding.
class TmsAttItem {
public:
    /// The content, as raw bytes.
    std::string& Data() { return m_data; }
    const std::string& Data() const { return m_data; }

    const std::string& FileName() const { return m_fileName; }
    /// Stores the name; a non-empty name also sets ContentType from the name's extension and
    /// Encoding from that type (text/plain, text/rtf, text/html: quoted-printable; message/rfc822:
    /// 7bit; anything else: base64).
    void SetFileName(std::string_view fileName);
    const std::string& ContentType() const { return m_contentType; }
    void SetContentType(std::string_view contentType) { m_contentType = ShortText(contentType); }
    TmsAttEncoding Encoding() const { return m_encoding; }
    void SetEncoding(TmsAttEncoding encoding) { m_encoding = encoding; }

    /// Copies data, content type, encoding and the stored file name (nothing derived again).
    void Assign(const TmsAttItem& source);

private:
    std::string m_data;
    std::string m_fileName;
    std::string m_contentType;
    TmsAttEncoding m_encoding = aeSevenBit;
};

class TmsAttList : public TmsOwnedList<TmsAttItem> {};

/// The last path component of a file name ("/" and "\" both separate directories, so a name
/// stored from either kind of system loses its directory).
std::string ExtractMailFileName(std::string_view fileName);

/// The value of the first header line called `name`, with its continuation lines joined by one
/// space; encoded words are decoded and the value cut to 255 characters, except for Content-Type
/// and X-UIDL, which come back whole. Empty when there is no such header.
std::string GetHeaderValue(const TmsHeaders& headers, std::string_view name);
/// Fills `result` with the single addresses of every header line that begins with `name`
/// (no colon appended, so "TO" also takes "TOPIC:"), with their continuation lines.
void GetHeaderAddresses(const TmsHeaders& headers, std::string_view name, TmsStrings& result);
/// Removes the first header line called `name` together with its continuation lines.
void DeleteHeader(TmsHeaders& headers, std::string_view name);
/// Splits "Name <mailbox>", "mailbox (Name)" or a bare mailbox into `address`.
/// Throws Exception "Unable to parse email address" for a "<" without a ">" after it.
void ParseMailAddress(std::string_view text, TmsMailAddress& address);
/// The MIME type registered for the file name's extension, or "application/octet-stream".
std::string ContentTypeOfFile(std::string_view fileName);
/// A parameter of a structured header value, such as the boundary of
/// `multipart/mixed; boundary="123"`; empty when absent.
std::string GetParamValue(std::string_view paramName, std::string_view text);
/// The main value of a structured header value, such as text/plain of `text/plain; charset=x`.
std::string GetMainValue(std::string_view text);
