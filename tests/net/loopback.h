// Plain loopback peers for the socket tests: listening, connecting and raw byte transfer with the
// system calls themselves, so the socket classes are checked against an independent side.
#pragma once

#include "platform/msgloop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

/// A listening socket on 127.0.0.1 and a system-chosen port.
struct LoopbackListener {
    LoopbackListener();
    ~LoopbackListener();
    /// Waits for one connection (30 s at most); returns its descriptor (-1 when none came).
    int AcceptOne() const;
    int fd = -1;
    int port = 0;
};

/// Connects to 127.0.0.1:port, optionally from a given local address; -1 on failure.
int ConnectLoopback(int port, const char* from = nullptr);
void SendAll(int fd, const std::string& bytes);
/// Reads until the peer closes or `wait` passes without data.
std::string ReceiveAll(int fd, std::chrono::milliseconds wait = std::chrono::seconds(30));
/// Reads one line (up to LF, included) or what came before the peer closed.
std::string ReceiveLine(int fd);
/// Whether the peer closed the connection (read gives end of file) within `wait`.
bool PeerClosed(int fd, std::chrono::milliseconds wait = std::chrono::seconds(30));
/// A port on which nothing listens (bound once, then released).
int UnusedPort();
void CloseFd(int& fd);
/// CPU time used by the calling thread, in milliseconds.
double ThreadCpuMs();

/// Installs a fresh poll(2) message loop as the application's loop for one test.
class LoopTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    /// Processes the loop's messages until `condition` holds (30 s at most: a deadline for a loaded machine).
    bool Pump(const std::function<bool()>& condition, std::chrono::milliseconds wait = std::chrono::seconds(30));
    std::unique_ptr<MessageLoop> m_loop;

private:
    std::unique_ptr<ScopedMainLoop> m_installLoop;
};
