// The real vkt on a real X server: Xvfb with trayer as the tray host, driven with xdotool.
// Screenshots of each step stay in the build's test output (tests/gui/desktop-screenshots).
#include "testutil.h"
#include "integration/vktprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <set>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Runs a shell command and returns its standard output.
std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof(buf), p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

bool HaveTool(const char* name) {
    return !Shell(std::string("command -v ") + name).empty();
}

// A child process started with the given environment prefix, ended with SIGTERM.
class Child {
public:
    explicit Child(const std::string& command) {
        m_pid = fork();
        if (m_pid == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Child() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

private:
    pid_t m_pid = -1;
};

template <class Pred> bool WaitFor(Pred pred, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (pred()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return pred();
}

} // namespace

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "xwininfo", "import", "compare"})
            if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        // The system's Python with python3-xlib sends the window manager's close request.
        if (Shell("/usr/bin/python3 -c 'import Xlib' 2>/dev/null && echo ok") != "ok")
            GTEST_SKIP() << "python3-xlib is not installed";
        // A display number no other X server on this machine holds (its lock file is absent).
        for (int n = 90 + getpid() % 100;; ++n)
            if (!std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) {
                display = ":" + std::to_string(n);
                break;
            }
        xvfb = std::make_unique<Child>("Xvfb " + display + " -noreset -nolisten tcp -screen 0 1024x768x24");
        ASSERT_TRUE(WaitFor([&] { return X("xwininfo -root >/dev/null 2>&1 && echo up") == "up"; }, 60s));
        tray = std::make_unique<Child>("env DISPLAY=" + display +
                                       " trayer --edge top --align right --widthtype request --height 24");
        ASSERT_TRUE(WaitFor([&] { return !X("xdotool search --class '^Trayer$'").empty(); }, 60s));
        std::filesystem::create_directories(shots);
    }

    std::string X(const std::string& command) { return Shell("DISPLAY=" + display + " " + command + " 2>/dev/null"); }
    std::string Shot(const std::string& name, const std::string& crop = "") {
        const std::string file = shots + "/" + name + ".png";
        X("import -window root " + (crop.empty() ? "" : "-crop " + crop + " ") + file);
        return file;
    }
    bool Mapped(const std::string& window) {
        return X("xwininfo -id " + window).find("IsViewable") != std::string::npos;
    }
    // The tray icon is vkt's window embedded in trayer's panel: "WxH+X+Y" at its place on the screen.
    std::string TrayIconGeometry() {
        for (const std::string& line : Split(X("xwininfo -root -tree"))) {
            if (line.find("(\"vkt\"") == std::string::npos) continue;
            int w = 0, h = 0, ax = 0, ay = 0, rx = 0, ry = 0;
            std::size_t at = line.find(")  ");
            if (at != std::string::npos &&
                std::sscanf(line.c_str() + at + 3, "%dx%d+%d+%d  +%d+%d", &w, &h, &rx, &ry, &ax, &ay) == 6 && w <= 48 &&
                h <= 48 && w > 1)
                return std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(ax) + "+" +
                       std::to_string(ay);
        }
        return {};
    }
    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t nl = text.find('\n', start);
            lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
            if (nl == std::string::npos) break;
            start = nl + 1;
        }
        return lines;
    }

    std::string display;
    std::string shots = std::string(VKT_BINARY_DIR) + "/tests/gui/desktop-screenshots";
    std::unique_ptr<Child> xvfb, tray;
    TempDir home, work;
};

TEST_F(Desktop, TrayIconFlashesCloseHidesDoubleClickRestoresAndTheTrayMenuShutsDown) {
    WriteFileText(home.File("vkt.ini"),
                  "[System]\r\nDBProvider=SQLite\r\nDataBase=" + home.File("monitor") + "\r\nNetPort=0\r\n");
    VktProcess vkt(home.Path(), work.Path(),
                   {"VKT_HEADLESS=0", "DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=",
                    "XDG_RUNTIME_DIR=" + work.Path(), "LSAN_OPTIONS=suppressions=" VKT_LSAN_SUPPRESSIONS});
    std::string console;
    ASSERT_TRUE(WaitFor([&] { return !(console = X("xdotool search --name '^Sentrova VKT 1\\.12$'")).empty(); }, 60s));
    console = Split(console).front();
    ASSERT_TRUE(WaitFor([&] { return Mapped(console); }, 60s));
    std::string icon;
    ASSERT_TRUE(WaitFor([&] { return !(icon = TrayIconGeometry()).empty(); }, 10s)) << X("xwininfo -root -tree");
    Shot("1-console-and-tray");

    // The heartbeat: the icon's picture changes within a few ticks.
    const std::string first = Shot("2-tray-icon-a", icon);
    std::string second;
    EXPECT_TRUE(WaitFor(
        [&] {
            second = Shot("3-tray-icon-b", icon);
            return X("compare -metric AE " + first + " " + second + " null: 2>&1 || true") != "0";
        },
        60s))
        << "the tray icon did not change picture";

    // Closing the window the way a window manager does only hides it.
    // A loaded machine can take a while to handle it, so the message is sent again until the
    // window is gone; a second close of a hidden console changes nothing.
    EXPECT_TRUE(WaitFor(
        [&] {
            if (!Mapped(console)) return true;
            X(std::string("/usr/bin/python3 ") + VKT_XHELPER + " close " + console);
            return !Mapped(console);
        },
        60s));
    EXPECT_EQ(vkt.WaitExit(500ms), -1) << "the daemon keeps running";
    Shot("4-closed");

    // A double click on the tray icon maps it again.
    int w = 0, h = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(icon.c_str(), "%dx%d+%d+%d", &w, &h, &x, &y), 4);
    const std::string centre = std::to_string(x + w / 2) + " " + std::to_string(y + h / 2);
    X("xdotool mousemove " + centre + " click --repeat 2 --delay 80 1");
    EXPECT_TRUE(WaitFor([&] { return Mapped(console); }, 60s));
    Shot("5-restored");

    // "Shut Down Module" from the tray menu ends the program with status 0. The keys go to the menu
    // only once it is on screen: a window of vkt's that was not there before the click.
    const auto windows = [&] {
        const std::vector<std::string> ids = Split(X("xdotool search --onlyvisible --classname '^vkt$'"));
        return std::set<std::string>(ids.begin(), ids.end());
    };
    const std::set<std::string> before = windows();
    X("xdotool mousemove " + centre + " click 3");
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::set<std::string> now = windows();
            return std::any_of(now.begin(), now.end(), [&](const std::string& w) { return !before.count(w); });
        },
        60s))
        << "the tray menu did not open";
    Shot("6-tray-menu");
    X("xdotool key Down Down Return");
    EXPECT_EQ(vkt.WaitExit(60s), 0) << vkt.Output();
}

TEST_F(Desktop, FirstRunShowsSplashThenWizardAndCancelLeadsToTheRestartNoteAndTheConsole) {
    const std::string ini = "[System]\r\ninstall=1\r\nDBProvider=SQLite\r\nDataBase=" + home.File("monitor") + "\r\n";
    WriteFileText(home.File("vkt.ini"), ini);
    VktProcess vkt(home.Path(), work.Path(),
                   {"VKT_HEADLESS=0", "DISPLAY=" + display, "DBUS_SESSION_BUS_ADDRESS=",
                    "XDG_RUNTIME_DIR=" + work.Path(), "LSAN_OPTIONS=suppressions=" VKT_LSAN_SUPPRESSIONS});
    EXPECT_TRUE(WaitFor([&] { return X("xwininfo -root -tree").find("611x381") != std::string::npos; }, 60s));
    Shot("first-run-1-splash");
    std::string wizard;
    ASSERT_TRUE(WaitFor([&] { return !(wizard = X("xdotool search --name '^VKT Setup Wizard$'")).empty(); }, 60s));
    wizard = Split(wizard).front();
    ASSERT_TRUE(WaitFor([&] { return Mapped(wizard); }, 60s));
    EXPECT_EQ(X("xwininfo -root -tree").find("611x381"), std::string::npos) << "the splash is hidden first";
    Shot("first-run-2-wizard");
    X("xdotool windowfocus --sync " + wizard + " key Escape");
    std::string note;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const std::string& w : Split(X("xdotool search --name '^Sentrova VKT$'")))
                if (!w.empty() && Mapped(w)) note = w;
            return !note.empty();
        },
        60s));
    Shot("first-run-3-restart-note");
    X("xdotool windowfocus --sync " + note + " key Return");
    EXPECT_TRUE(
        WaitFor([&] { return !X("xdotool search --onlyvisible --name '^Sentrova VKT 1\\.12$'").empty(); }, 60s));
    Shot("first-run-4-console");
    EXPECT_EQ(ReadFileText(home.File("vkt.ini")), ini) << "Cancel writes nothing";
    vkt.Signal(SIGTERM);
    EXPECT_EQ(vkt.WaitExit(60s), 0);
}
