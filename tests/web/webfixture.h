// A web administration server on 127.0.0.1 with its message loop on a thread of its own, serving
// from a temporary current directory that holds its vkt.ini; raw-socket clients for the tests.
#pragma once

#include "testutil.h"
#include "web/webserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    /// Runs `job` on the loop thread and waits for it.
    void OnLoop(const std::function<void()>& job);
    /// Sends `request` on a new connection and returns everything received until the server closed.
    std::string Exchange(const std::string& request);
    /// The current directory the server serves from (inside Root()).
    std::string Dir() const { return m_root.Path() + "/cwd"; }
    const TempDir& Root() const { return m_root; }
    std::string Ini() const { return Dir() + "/vkt.ini"; }
    static std::string Today();

    TWebSettings m_settings;
    /// Applied on the loop thread before the server starts.
    std::function<void(TWebServer&)> m_configure;
    int m_port = 0;

private:
    TempDir m_root;
    std::unique_ptr<ScopedCwd> m_cwd;
    std::unique_ptr<MessageLoop> m_loop;
    std::unique_ptr<TWebServer> m_web;
    std::thread m_loopThread;
};
