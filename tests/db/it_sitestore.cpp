// The site store on both backends: values the columns refuse, and site with VKT rows changed together.
#include "db/sitestore.h"
#include "dbfixture.h"

namespace {

class SiteStoreOn : public DataModuleOn {
protected:
    SiteStore store{dm.adoQ2, dm.Dialect()};
    SiteFields alpha{"a1", "Alpha", "10.0.0.1", "5", "ops@example.org", "2", "d1"};
};

} // namespace

TEST_P(SiteStoreOn, RefusesWhatTheColumnsCannotTake) {
    struct Case {
        void (*Change)(SiteFields&);
        FieldError Error;
    };
    const std::vector<Case> cases = {
        {[](SiteFields& s) { s.Code = ""; }, {"code", "is required"}},
        {[](SiteFields& s) { s.Code = "abcdefghijklm"; }, {"code", "is longer than 12 characters"}},
        {[](SiteFields& s) { s.Code = "a 1 "; }, {"code", "has leading or trailing blanks"}},
        // A code is one segment of the API's paths.
        {[](SiteFields& s) { s.Code = "Z/1"; }, {"code", "contains a slash"}},
        {[](SiteFields& s) { s.Code = ".."; }, {"code", "is . or .."}},
        {[](SiteFields& s) { s.Code = std::string("N1\0junk", 7); }, {"code", "contains a control character"}},
        {[](SiteFields& s) { s.Name = "tab\there"; }, {"name", "contains a control character"}},
        {[](SiteFields& s) { s.Name = std::string(21, 'n'); }, {"name", "is longer than 20 characters"}},
        {[](SiteFields& s) { s.Address = std::string(250, 'h') + ".example"; },
         {"address", "is longer than 255 characters"}},
        {[](SiteFields& s) { s.Address = "tcp://probe.example:0"; },
         {"address", "is not an IPv4 or IPv6 address, a host name or tcp://host:port"}},
        {[](SiteFields& s) { s.Address = "udp://probe.example:53"; },
         {"address", "is not an IPv4 or IPv6 address, a host name or tcp://host:port"}},
        {[](SiteFields& s) { s.Address = "10.0.0.256"; },
         {"address", "is not an IPv4 or IPv6 address, a host name or tcp://host:port"}},
        {[](SiteFields& s) { s.Address = "bad_host"; },
         {"address", "is not an IPv4 or IPv6 address, a host name or tcp://host:port"}},
        {[](SiteFields& s) { s.Downtime = "5m"; }, {"downtime", "is not a whole number of minutes"}},
        {[](SiteFields& s) { s.Downtime = "99999999999"; }, {"downtime", "is not a whole number of minutes"}},
        {[](SiteFields& s) { s.Downtime = "-1"; }, {"downtime", "is negative"}},
        {[](SiteFields& s) { s.Email = "ops.example.org"; }, {"email", "is not an e-mail address"}},
        {[](SiteFields& s) { s.Email = ""; }, {"email", "is required when contactflag is 2 (notice by mail)"}},
        {[](SiteFields& s) { s.Email = "", s.ContactFlag = "02"; },
         {"email", "is required when contactflag is 2 (notice by mail)"}},
        {[](SiteFields& s) { s.ContactFlag = "two"; }, {"contactflag", "is not a whole number"}},
        {[](SiteFields& s) { s.Daemon = std::string(21, 'd'); }, {"daemon", "is longer than 20 characters"}},
    };
    EXPECT_EQ(store.Validate(alpha), std::vector<FieldError>{});
    for (const Case& c : cases) {
        SiteFields site = alpha;
        c.Change(site);
        EXPECT_EQ(store.Validate(site), std::vector<FieldError>{c.Error}) << c.Error.Message;
    }
    for (const char* address :
         {"2001:db8::7", "[2001:db8::7]", "tcp://10.0.0.1:22", "tcp://[2001:db8::7]:443", "tcp://probe.example:8080"}) {
        SiteFields site = alpha;
        site.Address = address;
        EXPECT_EQ(store.Validate(site), std::vector<FieldError>{}) << address;
    }
    SiteFields bad = alpha;
    bad.Downtime = "x";
    EXPECT_THROW(store.Create(bad), ESiteInvalid);
    EXPECT_EQ(Count("site"), 0);
}

TEST_P(SiteStoreOn, ChangesSiteAndVktRowsTogether) {
    store.Create(alpha);
    EXPECT_THROW(store.Create(alpha), ESiteExists);
    SiteFields beta{"b2", "", "probe-b.example", "0", "", "", "d1"};
    store.Create(beta);
    EXPECT_EQ(store.List("d1"), (std::vector<SiteFields>{alpha, beta}));
    EXPECT_EQ(store.List("d2"), std::vector<SiteFields>{});

    // A second daemon takes the site up; the row keeps the columns the store does not write.
    Exec({"UPDATE site SET owner = 'Kim, Lee' WHERE CODE = 'a1'"});
    SiteFields changed = alpha;
    changed.Daemon = "d2";
    changed.Address = "10.0.0.9";
    changed.ContactFlag = "";
    store.Update(changed);
    EXPECT_EQ(store.List("d2"), std::vector<SiteFields>{changed});
    EXPECT_EQ(Open({"SELECT owner FROM site WHERE CODE = 'a1'"}).FieldByName("owner").AsString(), "Kim, Lee");

    // One daemon letting go keeps the site for the other; deleting the code removes every row.
    store.Delete("a1", "d1");
    EXPECT_EQ(store.List("d1"), std::vector<SiteFields>{beta});
    EXPECT_TRUE(store.Find("a1").has_value());
    store.Delete("a1", "d2");
    EXPECT_FALSE(store.Find("a1").has_value());
    store.Delete("b2");
    EXPECT_EQ(Count("site") + Count("VKT"), 0);
    EXPECT_THROW(store.Delete("b2"), ESiteMissing);
    EXPECT_THROW(store.Update(beta), ESiteMissing);
}

TEST_P(SiteStoreOn, AChangeSetThatFailsLeavesNothingBehind) {
    store.Create(alpha);
    SiteFields beta{"b2", "", "10.0.0.2", "1", "", "", "d1"};
    EXPECT_THROW(
        store.Apply(
            {{SiteChange::Kind::Create, beta}, {SiteChange::Kind::Delete, alpha}, {SiteChange::Kind::Create, beta}}),
        ESiteExists);
    EXPECT_EQ(store.List("d1"), std::vector<SiteFields>{alpha});
    // The store is usable after the rollback.
    store.Apply({{SiteChange::Kind::Create, beta}, {SiteChange::Kind::Delete, alpha}});
    EXPECT_EQ(store.List("d1"), std::vector<SiteFields>{beta});
}

INSTANTIATE_TEST_SUITE_P(Backends, SiteStoreOn, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName);
