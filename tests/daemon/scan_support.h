// A started console on an embedded database in a temporary program directory, with its message loop,
// the manual clock and a scripted echo (127.0.0.1 answers in 7 ms, every other address stays silent),
// and helpers to seed rows, run ticks and read what the scan logged.
#pragma once

#include "platform/activitylog.h"
#include "daemon/tfrmmain.h"
#include "db/data.h"
#include "platform/datetime.h"
#include "platform/msgloop.h"
#include "test_icmp_support.h"
#include "testutil.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

struct SiteRow {
    std::string code;
    std::string address;
    int downtime = 0;
    std::string email{};
    int contactflag = 0;
    std::string owner{};
    std::string ext{};
    std::string sitename = "Depot";
};

class ScanConsole : public ::testing::Test {
protected:
    void SetUp() override {
        echo.script->answer = [s = echo.script.get()](IcmpEchoReply& reply, std::uint32_t& error) -> unsigned {
            if (onProbe) onProbe();
            if (s->address != inet_addr("127.0.0.1")) {
                error = IpStatus::ReqTimedOut;
                return 0;
            }
            reply.RoundTripTime = 7;
            reply.RoundTripTimeUs = 7300;
            return 1;
        };
        WriteIni("");
        dm.DataModuleCreate();
        form.OnTerminate = [this] { ++terminated; };
        form.FormShow();
        ASSERT_TRUE(form.Running()) << dm.LastConnectionError();
        linesBefore = form.memLog.LineCount();
    }

    void TearDown() override { onProbe = nullptr; }

    /// Writes vkt.ini with the embedded database, Daemon ID D1, PollDelay 5 and the extra lines.
    void WriteIni(const std::string& extra) {
        WriteFileText(dir.File("vkt.ini"),
                      "[System]\nDBProvider=SQLite\nDataBase=" + dir.File("t") + "\nVKTID=D1\nPollDelay=5\n" + extra);
    }

    void Exec(const std::string& sql) { ExecStatement(work, {sql}); }
    long long Count(const std::string& sql) {
        OpenStatement(work, {sql});
        return work.FieldByName("n").AsInteger();
    }
    long long Alarms(const std::string& code) {
        return Count("SELECT COUNT(*) AS n FROM alarms WHERE Code = " + SQLLiteral(code));
    }

    void AddSite(const SiteRow& s, const std::string& daemon = "D1") {
        Exec("INSERT INTO site (CODE, sitename, IPaddr, Downtime, email, contactflag, owner, ext) VALUES (" +
             SQLLiteral(s.code) + ", " + SQLLiteral(s.sitename) + ", " + SQLLiteral(s.address) + ", " +
             std::to_string(s.downtime) + ", " + SQLLiteral(s.email) + ", " + std::to_string(s.contactflag) + ", " +
             SQLLiteral(s.owner) + ", " + SQLLiteral(s.ext) + ")");
        Exec("INSERT INTO VKT (VKTID, sitecode) VALUES (" + SQLLiteral(daemon) + ", " + SQLLiteral(s.code) + ")");
    }

    /// One tick of the scan timer after `minutes` have passed on both clocks.
    void TickAfter(double minutes) {
        clock.Advance(std::chrono::milliseconds(std::llround(minutes * 60000)));
        form.timMainTimer();
    }

    /// "[CATEGORY] message" of every log line since SetUp (or the last Taken call); bare pane lines as they are.
    std::vector<std::string> Taken() {
        std::vector<std::string> all = form.memLog.Lines(), out;
        for (std::size_t i = linesBefore; i < all.size(); ++i) {
            const std::string& line = all[i];
            if (line.size() < 34 || line[21] != ' ' || line[22] != '[') {
                out.push_back(line);
                continue;
            }
            std::size_t end = line.find(' ', 22);
            std::size_t text = line.find_first_not_of(' ', end);
            out.push_back(line.substr(22, end - 22) + " " + line.substr(text, line.size() - text - 1));
        }
        linesBefore = all.size();
        return out;
    }
    /// How many of the lines since the last Taken call start with `prefix`.
    int CountTaken(const std::string& prefix) {
        int n = 0;
        for (const std::string& line : Taken())
            n += line.rfind(prefix, 0) == 0;
        return n;
    }

    static inline std::function<void()> onProbe;

    TempDir dir;
    ScopedCwd cwd{dir.Path()};
    ScopedEnv home{"VKT_HOME", dir.Path()};
    std::unique_ptr<MessageLoop> loop = CreatePollMessageLoop();
    ScopedMainLoop installLoop{loop.get()};
    /// Starts at the real time (whole minute), so that the day's log file is as old as the clock says.
    ManualClock clock{DateTimeFromTimeT(time(nullptr) / 60 * 60)};
    ScopedClock installClock{&clock};
    ScopedScriptedEcho echo;
    TVKTDataModule dm;
    ScopedDataModule installDm{&dm};
    TfrmMain form;
    ScopedFrmMain installForm{&form};
    ScopedLogPane installPane{&form.memLog};
    TDbQuery work{dm.conMain};
    std::size_t linesBefore = 0;
    int terminated = 0;
};
