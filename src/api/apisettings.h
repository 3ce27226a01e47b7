// Section [Api] of vkt.ini: where the API listens and the certificate and key that make it HTTPS.
#pragma once

#include <string>
#include <vector>

struct TApiSettings {
    /// Listen=host:port; the host as written ("127.0.0.1", "::1", "localhost"), without brackets.
    std::string Host;
    int Port = 0;
    /// PEM files; with both set the listener speaks HTTPS.
    std::string Certificate, Key;

    /// Whether Listen is set, so that the API is to be started.
    bool Wanted() const { return !Host.empty(); }
    bool Tls() const { return !Certificate.empty() && !Key.empty(); }

    /// Reads [Api] of `iniFile`; returns a log line for each setting it cannot use (and then leaves
    /// Host empty, so the API stays off).
    std::vector<std::string> Load(const std::string& iniFile);
};

/// Splits "host:port" or "[v6]:port"; false when it is neither or the port is not 0 to 65535.
bool SplitHostPort(const std::string& text, std::string& host, int& port);
