// The web server fixture.
#include "webfixture.h"

#include "net/loopback.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"

#include <filesystem>
#include <future>

void WebServerTest::SetUp() {
    std::filesystem::create_directory(Dir());
    m_cwd = std::make_unique<ScopedCwd>(Dir());
    WriteFileText(Ini(), "[System]\r\nVKTID=  alpha \r\nDBPass=secret\r\n");
    m_settings = {"alpha", "(local)", "Duskwater", "sa", "secret", 5, 10, ""};
    m_loop = CreatePollMessageLoop();
    SetMainLoop(m_loop.get());
    m_loopThread = std::thread([this] { m_loop->Run(); });
    OnLoop([this] {
        m_web = std::make_unique<TWebServer>();
        m_web->ConfigFile = Ini();
        m_web->ReadSettings = [this] { return m_settings; };
        m_web->webSock.BindAddress = "127.0.0.1";
        if (m_configure) m_configure(*m_web);
        m_web->Start(0);
        m_port = m_web->webSock.LocalPort();
    });
}

void WebServerTest::TearDown() {
    OnLoop([this] { m_web.reset(); });
    m_loop->Quit();
    m_loopThread.join();
    SetMainLoop(nullptr);
    m_cwd.reset();
}

void WebServerTest::OnLoop(const std::function<void()>& job) {
    std::promise<void> done;
    m_loop->Post([&] {
        try {
            job();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

std::string WebServerTest::Exchange(const std::string& request) {
    int fd = ConnectLoopback(m_port);
    SendAll(fd, request);
    std::string answer = ReceiveAll(fd, std::chrono::seconds(60));
    CloseFd(fd);
    return answer;
}

std::string WebServerTest::Today() {
    return FormatDateTime("yyyy-mm-dd", ::Now());
}
