// The pages over a raw socket, byte for byte, and the saves they make; one table of requests.
#include "webfixture.h"

#include "net/loopback.h"
#include "platform/datetime.h"
#include "platform/profile.h"

#include <filesystem>
#include <sys/socket.h>

namespace {

// Page texts with "\n" for CR LF; @DATE@ and @ID@ are today's date and the Daemon ID.
const char* const Head = R"(HTTP/1.0 200 OK
Server: Korvel Web Server/1.0 
Content-Type: Text/Html 


<!DOCTYPE HTML PUBLIC ""-//W3C//DTD HTML 3.2//EN""> 
<HTML> 
<HEAD> 
<TITLE>Sentrova VKT</TITLE> 
<BODY BGCOLOR="#FFFFFF"> 
<HR> 
<TABLE WIDTH=100% ALIGN=CENTER > 
<TR > 
<TD valign=top width=50% ALIGN=left><IMG SRC="images/zelto.gif" HEIGHT=68 WIDTH=75 ALIGN=TEXTTOP></TD>

<TD ALIGN=right valign=top width=50% ><FONT SIZE=4 color="#0000CC">
@DATE@
<BR>
@ID@
</B></FONT><BR> 
</TD> 
</TR></TABLE><HR> 
<FORM ACTION="RESULT" METHOD="GET"> 
)";

const char* const Menu = R"(   &nbsp;<BR>
   <INPUT Type=SUBMIT Name="mode" VALUE="View Log"> 
   <BR> 
   &nbsp;<BR>
   <INPUT Type=SUBMIT Name="mode" VALUE=" Settings "> 
   </TD> 
)";

const char* const Foot = R"(<HR> 
<FONT FACE=ARIAL Size=1>Sentrova VKT module - web administration</FONT> 
</BODY> 
</HTML> 
)";

const char* const MainBody = R"(<TABLE width=120 height=250 border=1> 
   <TD width=120 bgcolor=#BBCCFF align=center valign=top> 
   <BR> 
)";

const char* const LogBody = R"(<TABLE width=100% height=200 border=1> 
   <TD width=15% bgcolor=#BBCCFF align=center valign=top> 
)";

const char* const SaveBody = R"(<TABLE width=100% height=250 border=1> 
   <TD width=15% bgcolor=#BBCCFF align=center valign=top> 
   <BR> 
)";

const char* const SaveDone = R"(   <TD bgColor=#FFFFFF>
   <P>
   <FONT Face=ARIAL Size=3 ><B>Changes made saved successfully</B></FONT><BR>
   <FONT Face=ARIAL Size=3 ><B>All changes will take effect when VKT module is restarted.</B></FONT>
   </P>
   </TD>
   </TABLE> 
)";

std::string Row(const std::string& label, const std::string& name, const std::string& value) {
    return "   <TR>\n   <TD>\n   <FONT FACE=ARIAL Size=2><B>" + label + "</B></FONT>&nbsp;\n   </TD><TD>\n" +
           "   &nbsp;<INPUT TYPE=TEXT Name=\"" + name + "\"\nVALUE=\"" + value + "\" \n></INPUT>\n   </TD>\n   </TR>\n";
}

std::string SettingsBody() {
    return std::string("<TABLE width=100% height=250 border=1> \n") +
           "   <TD width=15% bgcolor=#BBCCFF align=center valign=top> \n" + Menu +
           "   <TD align=left bgcolor=#FFFFFF>\n   <TABLE width=100% cellspacing=0 cellpadding=3 border=2 >\n" +
           Row("Daemon ID", "VKTID", "alpha") +
           Row("Database Server", "DBServer", "&quot;&gt;&lt;script&gt;x(&#39;1&#39;)") +
           Row("Database ", "DataBase", "Duskwater") + Row("Database User Name", "DBUser", "sa&amp;co") +
           Row("Database Password", "DBPass", "secret") + Row("Polling Interval", "PollDelay", "5") +
           Row("Max Log File Age (Days)", "MaxLogFileAgeDays", "10") +
           "   </TABLE>\n   <P>\n   &nbsp;<INPUT TYPE=SUBMIT Name=\"mode\" VALUE=\"Save Changes\"></INPUT>\n"
           "   </P>\n   </TD></TABLE>\n";
}

std::string Crlf(std::string text, const std::string& id = "alpha") {
    auto put = [&](const std::string& from, const std::string& to) {
        for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    };
    put("@DATE@", FormatDateTime("yyyy-mm-dd", Now()));
    put("@ID@", id);
    put("\n", "\r\n");
    return text;
}

std::string Page(const std::string& body) {
    return Crlf(std::string(Head) + body + Foot);
}

const std::string LogLines = "2026-12-08 10:00:00   [POLL]     Polling <b>site</b> [\"10.0.0.1\"] \r\n"
                             "2026-12-08 10:00:01   [AWOL]     Unable to contact a&b \r\n";

const std::string SavePage = Page(std::string(SaveBody) + Menu + SaveDone);

struct PageCase {
    const char* name;
    std::string request;
    std::string expected;
    // key=value pairs expected in section System afterwards ("" = the file is unchanged)
    std::vector<std::pair<std::string, std::string>> saved;
};

std::string Get(const std::string& target, const std::string& version = "HTTP/1.0", const std::string& more = "") {
    return "GET " + target + " " + version + "\r\n" + more + "\r\n";
}

std::string ManyFields(int before, int after) {
    std::string q;
    for (int i = 1; i <= before + after; ++i) {
        if (i == before + 1) q += "mode=Save+Changes&";
        q += "f" + std::to_string(i) + "=v&";
    }
    return "/RESULT?" + q.substr(0, q.size() - 1);
}

const std::string MainPage = Page(std::string(MainBody) + Menu + "</TABLE> \n");

class Pages : public WebServerTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(Pages, AnswerByteForByteAndSaveWhatTheyShould) {
    m_settings.DBServer = "\"><script>x('1')";
    m_settings.DBUser = "sa&co";
    WriteFileText(Dir() + "/" + Today() + ".log", LogLines);
    WriteFileText(Dir() + "/page.htm", "<P>one</P>\r\ntwo\nlast");
    const std::string before = ReadFileText(Ini());
    EXPECT_EQ(Exchange(GetParam().request), GetParam().expected);
    if (GetParam().saved.empty()) {
        EXPECT_EQ(ReadFileText(Ini()), before);
    }
    for (const auto& [key, value] : GetParam().saved)
        EXPECT_EQ(GetPrivateProfileString("System", key, "<missing>", Ini()), value) << key;
}

std::string LogPage() {
    return Page(std::string(LogBody) + Menu +
                "<TD align=left bgcolor=#FFFFFF>\n"
                "2026-12-08 10:00:00   [POLL]     Polling &lt;b&gt;site&lt;/b&gt; [&quot;10.0.0.1&quot;] <BR>\n"
                "2026-12-08 10:00:01   [AWOL]     Unable to contact a&amp;b <BR>\n</TD>\n</TABLE> \n");
}

INSTANTIATE_TEST_SUITE_P(
    Requests, Pages,
    ::testing::Values(
        PageCase{"MainHttp10", Get("/"), MainPage, {}},
        PageCase{"MainHttp11", Get("/", "HTTP/1.1", "Host: 127.0.0.1\r\nAccept: */*\r\n"), MainPage, {}},
        PageCase{"LogView", Get("/RESULT?mode=View+Log"), LogPage(), {}},
        PageCase{"LogViewOtherPath", Get("/x/y?mode=View+Log"), LogPage(), {}},
        PageCase{"EncodedCommandIsNone", Get("/RESULT?mode=View%20Log"), "", {}},
        PageCase{"Settings", Get("/RESULT?mode=+Settings+"), Page(SettingsBody()), {}},
        PageCase{"SettingsNotFirst", Get("/RESULT?x=1&mode=+Settings+"), "", {}},
        PageCase{"HttpCutStopsSave", Get("/RESULT?DBServer=HTTPSRV&mode=Save+Changes"), "", {}},
        PageCase{"Post", "POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n", "", {}},
        PageCase{"SaveTwice",
                 Get("/RESULT?VKTID=beta&DBServer=%28local%29&DBPass=&DBUser=a+b%5Cc&mode=Save+Changes&"
                     "mode=Save+Changes"),
                 SavePage + SavePage,
                 {{"VKTID", "beta"}, {"DBServer", "(local)"}, {"DBPass", "secret"}, {"DBUser", "a b\\c"}}},
        // Saved as typed, and only the keys the form has.
        PageCase{"OnlyFormKeysDecoded",
                 Get("/RESULT?install=1&NetPort=1&vktid=beta&DBPass=a+b%2Bc%25d%3De&mode=Save+Changes"),
                 SavePage,
                 {{"install", "<missing>"}, {"NetPort", "<missing>"}, {"VKTID", "beta"}, {"DBPass", "a b+c%d=e"}}},
        PageCase{"ThirtyFieldsKept", Get(ManyFields(29, 6)), SavePage, {{"f29", "<missing>"}}},
        PageCase{"ThirtyFirstFieldIgnored", Get(ManyFields(30, 5)), "", {}},
        PageCase{"MissingImage",
                 Get("/images/zelto.gif"),
                 "HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\nContent-Type: image/gif \r\n"
                 "Content-Length: 0\r\n\r\n",
                 {}},
        PageCase{"TextFileTrueLength",
                 Get("/page.htm"),
                 "HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\nContent-Type: Text/Html \r\n"
                 "Content-Length: 25 \r\n\r\n\r\n<P>one</P>\r\ntwo\r\nlast\r\n",
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WebServerTest, RequestCutShortByTheClientIsAnsweredAsReceived) {
    int fd = ConnectLoopback(m_port);
    SendAll(fd, "GET / HTTP/1.0\r\nAccept: */*");
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(ReceiveAll(fd), MainPage);
    CloseFd(fd);
}

TEST_F(WebServerTest, LogViewWithoutTodaysFileHasTheMenuColumnOnly) {
    EXPECT_EQ(Exchange(Get("/RESULT?mode=View+Log")), Page(std::string(LogBody) + Menu));
}

TEST_F(WebServerTest, PageHeadShowsTheSavedDaemonIdAtTheNextConnection) {
    const std::string main = std::string(Head) + MainBody + Menu + "</TABLE> \n" + Foot;
    EXPECT_EQ(Exchange(Get("/RESULT?VKTID=beta&mode=Save+Changes")), SavePage);
    EXPECT_EQ(Exchange(Get("/")), Crlf(main, "beta"));
    WritePrivateProfileString("System", "VKTID", "\"><script>", Ini());
    EXPECT_EQ(Exchange(Get("/")), Crlf(main, "&quot;&gt;&lt;script&gt;"));
}

TEST_F(WebServerTest, PresentImageIsSentWithItsSize) {
    std::filesystem::create_directory(Dir() + "/images");
    const std::string gif("GIF89a\0\x01\x02\xff", 10);
    WriteFileText(Dir() + "/images/zelto.gif", gif);
    EXPECT_EQ(Exchange(Get("/images/zelto.gif")), "HTTP/1.0 200 OK\r\nServer: Korvel Web Server/1.0 \r\n"
                                                  "Content-Type: image/gif \r\nContent-Length: 10\r\n\r\n" +
                                                      gif);
}

} // namespace
