#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

#include "whois/rdap_answer.h"
#include "whois/rdap_bootstrap.h"
#include "whois/whois_answer.h"
#include "whois/whois_servers.h"

namespace {

// The server chosen for `name`, or "refused"; also checks the name was lower-cased in place.
std::string Select(std::string name, bool custom = false, std::string_view customText = {}) {
  const std::optional<std::string> server = SelectWhoisServer(name, custom, customText);
  for (char c : name) EXPECT_FALSE(c >= 'A' && c <= 'Z') << name;
  return server ? *server : "refused";
}

std::string Normalized(std::string text) {
  NormalizeLineEnds(text);
  return text;
}

std::string Referral(std::string_view answer) {
  const std::optional<std::string> server = FindReferralServer(answer);
  return server ? *server : "none";
}

}  // namespace

TEST(WhoisServerTable, HoldsTheRegistriesInKeyOrder) {
  const WhoisServerTable& table = WhoisServers();
  std::string keys;
  std::set<std::string_view> servers;
  for (size_t i = 0; i < table.size(); ++i) {
    if (i > 0) {
      EXPECT_LT(table[i - 1].key, table[i].key) << "keys sorted and unique";
    }
    EXPECT_FALSE(table[i].server.empty());
    EXPECT_LE(table[i].server.size(), 32u) << table[i].server;
    keys += std::string(table[i].key) + " ";
    servers.insert(table[i].server);
  }
  EXPECT_EQ(
      keys,
      "ac ad aero af ag am as at au be bg biz br by bz ca cc cd ch cl cn co com cx cz de dk "
      "ec edu es fi fo fr gf gov gs hk hr hu id ie il in info is it jp kr kz li lt lu lv mc "
      "mil mm ms mx name net nl no nu nz org ph pl pro pt ro ru se sg sh si sk st tc tf th tj "
      "tk tm to tr tv tw ua uk us vg ws za ");
  EXPECT_EQ(servers.size(), 87u);
}

TEST(SelectWhoisServer, FindsTheRowOfTheLastLabelInAnyCase) {
  EXPECT_EQ(Select("example.de"), "whois.denic.de");
  EXPECT_EQ(Select("WWW.Example.DE"), "whois.denic.de");
  EXPECT_EQ(Select("example.za"), "whois.nic.za");
  EXPECT_EQ(Select("example.ac"), "whois.nic.ac");  // first row
  EXPECT_EQ(Select("de.example.org"), "whois.pir.org");
  std::string name = "Mixed.Case.COM";
  SelectWhoisServer(name, false, {});
  EXPECT_EQ(name, "mixed.case.com");
  // Only A-Z change: other bytes of a name stay as they were.
  name = "\xC3\x89T\xC3\xA9.DE";
  EXPECT_EQ(SelectWhoisServer(name, false, {}), "whois.denic.de");
  EXPECT_EQ(name, "\xC3\x89t\xC3\xA9.de");
}

TEST(SelectWhoisServer, UnknownLabelsGoToTheDefaultServer) {
  EXPECT_EQ(Select("example.xyz"), "whois.iana.org");
  EXPECT_EQ(Select("example.dee"), "whois.iana.org");  // keys match whole labels only
  EXPECT_EQ(Select("example.d"), "whois.iana.org");
  EXPECT_EQ(Select("example.c0m"), "whois.iana.org");
  EXPECT_EQ(Select(".de"), "whois.denic.de");  // the label is all that is checked
}

TEST(SelectWhoisServer, RefusesNamesWithoutALastLabel) {
  for (bool custom : {false, true}) {
    EXPECT_EQ(Select("", custom, "127.0.43.1"), "refused");
    EXPECT_EQ(Select("localhost", custom, "127.0.43.1"), "refused");
    EXPECT_EQ(Select("example.de.", custom, "127.0.43.1"), "refused");
    EXPECT_EQ(Select(".", custom, "127.0.43.1"), "refused");
  }
}

TEST(SelectWhoisServer, CustomServerIsTakenAsTypedAndEmptyMeansDefault) {
  EXPECT_EQ(Select("example.com", true, "Whois.Example.NET "), "Whois.Example.NET ");
  EXPECT_EQ(Select("example.uk.com", true, "127.0.43.1"), "127.0.43.1");
  EXPECT_EQ(Select("example.com", true, ""), "whois.iana.org");
  EXPECT_EQ(Select("example.com", false, "127.0.43.1"), "whois.verisign-grs.com");
}

TEST(SelectWhoisServer, SharedSecondLevelZonesGoToTheirRegistry) {
  EXPECT_EQ(Select("example.uk.com"), "whois.centralnic.net");
  EXPECT_EQ(Select("EXAMPLE.GB.COM"), "whois.centralnic.net");
  EXPECT_EQ(Select("example.uk.net"), "whois.centralnic.net");
  EXPECT_EQ(Select("example.gb.net"), "whois.centralnic.net");
  // Only at the end of the name, on a label boundary (or as the whole name).
  EXPECT_EQ(Select(".uk.com"), "whois.centralnic.net");
  EXPECT_EQ(Select("shop.uk.community.com"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("a.uk.com.example.com"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("a.gb.net.example.net"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("a.uk.com.example.org"), "whois.pir.org");
  // The zones themselves lack the leading dot, and the suffixes are not crossed.
  EXPECT_EQ(Select("uk.com"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("gb.net"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("example.uk.net.com"), "whois.verisign-grs.com");
  EXPECT_EQ(Select("example.xuk.com"), "whois.verisign-grs.com");
}

TEST(SelectWhoisServer, AcademicZoneUnderUkGoesToItsNetwork) {
  EXPECT_EQ(Select("example.ac.uk"), "whois.nic.ac.uk");
  EXPECT_EQ(Select("Dept.Example.AC.UK"), "whois.nic.ac.uk");
  EXPECT_EQ(Select("ac.uk"), "whois.nic.uk");
  EXPECT_EQ(Select("example.co.uk"), "whois.nic.uk");
  EXPECT_EQ(Select("example.ac.uk.org"), "whois.pir.org");
  EXPECT_EQ(Select("example.ac.ukraine.uk"), "whois.nic.uk");
}

TEST(NormalizeLineEnds, AddsCarriageReturnsOnlyWhenThereIsNoCrLf) {
  EXPECT_EQ(Normalized("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(Normalized("\n\n"), "\r\n\r\n");
  EXPECT_EQ(Normalized("no line end"), "no line end");
  EXPECT_EQ(Normalized(""), "");
  // One CR LF anywhere keeps the text unchanged, bare LFs included.
  EXPECT_EQ(Normalized("a\nb\r\nc\n"), "a\nb\r\nc\n");
  // A CR that does not precede the LF is no CR LF.
  EXPECT_EQ(Normalized("a\rb\n"), "a\rb\r\n");
  EXPECT_EQ(Normalized("a\n\r"), "a\r\n\r");
}

TEST(FindReferralServer, TakesTheHostOfTheFirstReferralLine) {
  const std::string head = "NetRange: 192.0.2.0 - 192.0.2.255";
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois://whois.example.net\r\n"),
            "whois.example.net");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois://127.0.0.2:4321/\r\n"), "127.0.0.2");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois://[2001:db8::43]:4321/\r\n"),
            "2001:db8::43");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: rwhois://rwhois.example.net:4321\r\n"),
            "rwhois.example.net");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois.example.net\r\n"), "whois.example.net");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois.example.net:43\r\n"), "whois.example.net");
  EXPECT_EQ(Referral(head + "\r\nReferralServer: whois://a.example\r\nReferralServer: b\r\n"),
            "a.example");
  // The line may end anywhere later: the value runs to the next CR.
  EXPECT_EQ(Referral(head + "\r\nReferralServer: x.example\nmore\r\n"), "x.example\nmore");
}

TEST(FindReferralServer, NeedsTheExactTagAndACarriageReturnAfterIt) {
  EXPECT_EQ(Referral("NetRange: 192.0.2.0 - 192.0.2.255\r\n"), "none");
  EXPECT_EQ(Referral("ReferralServer: whois://a.example\r\n"), "none");  // no CR LF before
  EXPECT_EQ(Referral("x\r\nreferralserver: whois://a.example\r\n"), "none");
  EXPECT_EQ(Referral("x\r\nReferralServer:whois://a.example\r\n"), "none");
  EXPECT_EQ(Referral("x\r\nReferralServer: whois://a.example\n"), "none");
  EXPECT_EQ(Referral("x\r\nReferralServer: whois://a.example"), "none");
}

TEST(FindReferralServer, OddValuesStayInsideTheValue) {
  EXPECT_EQ(Referral("x\r\nReferralServer: \r\n"), "");
  EXPECT_EQ(Referral("x\r\nReferralServer: whois:/\r\n"), "");   // slash at the very end
  EXPECT_EQ(Referral("x\r\nReferralServer: whois:/x\r\n"), "");  // two past the slash
  EXPECT_EQ(Referral("x\r\nReferralServer: whois://\r\n"), "");
  EXPECT_EQ(Referral("x\r\nReferralServer: :43\r\n"), "");
  EXPECT_EQ(Referral("x\r\nReferralServer: " + std::string(400, 'h') + "\r\n"),
            std::string(299, 'h'));
}

TEST(AppendAnswerChunk, TakesTextUpToTheFirstZeroByteWithinTheLimit) {
  std::string answer;
  EXPECT_TRUE(AppendAnswerChunk(answer, "abc", 10));
  EXPECT_TRUE(AppendAnswerChunk(answer, std::string_view("de\0fg", 5), 10));
  EXPECT_TRUE(AppendAnswerChunk(answer, std::string_view("\0xyz", 4), 10));
  EXPECT_EQ(answer, "abcde");
  EXPECT_TRUE(AppendAnswerChunk(answer, "12345", 10));  // exactly the limit
  EXPECT_FALSE(AppendAnswerChunk(answer, "!", 10));
  EXPECT_EQ(answer, "abcde12345");
  EXPECT_TRUE(AppendAnswerChunk(answer, std::string_view("\0!", 2), 10));  // adds nothing
}

TEST(WhoisTextForDisplay, KeepsUtf8AndReadsOtherBytesAsLatin1) {
  EXPECT_EQ(WhoisTextForDisplay("plain\r\n"), "plain\r\n");
  EXPECT_EQ(WhoisTextForDisplay("Stra\xC3\x9F"
                                "e \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "Stra\xC3\x9F"
            "e \xE2\x82\xAC \xF0\x9F\x98\x80");
  EXPECT_EQ(WhoisTextForDisplay("Stra\xDF"
                                "e"),
            "Stra\xC3\x9F"
            "e");
  // Overlong forms, surrogates and cut sequences are not UTF-8.
  EXPECT_EQ(WhoisTextForDisplay("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(WhoisTextForDisplay("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
  EXPECT_EQ(WhoisTextForDisplay("ok \xE2\x82"), "ok \xC3\xA2\xC2\x82");
}

namespace {

std::string ShippedBootstrap() {
  const char* dir = std::getenv("PELORIN_SOURCE_DIR");
  std::ifstream in(std::string(dir ? dir : ".") + "/resources/rdap/dns.json");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string BaseUrl(const RdapBootstrap& bootstrap, std::string_view name) {
  return FindRdapBaseUrl(bootstrap, name).value_or("none");
}

}  // namespace

TEST(RdapBootstrap, TheShippedCopyNamesTheRegistriesServices) {
  const std::optional<RdapBootstrap> shipped = ParseRdapBootstrap(ShippedBootstrap());
  ASSERT_TRUE(shipped);
  EXPECT_EQ(shipped->publication, "2024-04-24T18:00:02Z");
  EXPECT_EQ(shipped->services.size(), 1178u);
  EXPECT_EQ(BaseUrl(*shipped, "www.example.dev"), "https://www.registry.google/rdap/");
  EXPECT_EQ(BaseUrl(*shipped, "example.info"), "https://rdap.identitydigital.services/rdap/");
  EXPECT_EQ(BaseUrl(*shipped, "example.com"), "https://rdap.verisign.com/com/v1/");
  EXPECT_EQ(BaseUrl(*shipped, "example.io"), "none");
  EXPECT_EQ(BaseUrl(*shipped, "example.de"), "none");
  // Listed over plain HTTP only: asked over HTTPS.
  EXPECT_EQ(BaseUrl(*shipped, "example.kg"), "https://rdap.cctld.kg/");
}

TEST(RdapBootstrap, TheLongestListedRunOfLabelsWinsAndDamagedFilesAreRefused) {
  const std::optional<RdapBootstrap> b = ParseRdapBootstrap(
      R"({"publication": "x", "services": [[["UK"], ["https://uk.test/rdap"]],
          [["co.uk"], ["ftp://co.test/", "https://co.test/"]], [["nourl"], []]]})");
  ASSERT_TRUE(b);
  EXPECT_EQ(BaseUrl(*b, "a.example.co.uk"), "https://co.test/");
  EXPECT_EQ(BaseUrl(*b, "example.uk"), "https://uk.test/rdap/");
  EXPECT_EQ(BaseUrl(*b, "example.nourl"), "none");
  EXPECT_EQ(BaseUrl(*b, "co.ukx"), "none");
  for (const char* damaged :
       {"", "{\"services\": [", "{\"services\": {}}", "[]", "{\"services\": [[[\"dev\"]]]}",
        "{\"services\": [[[\"dev\"], 1]]}", "{\"services\": []}"}) {
    EXPECT_FALSE(ParseRdapBootstrap(damaged)) << damaged;
  }
  const std::string deep =
      "{\"services\": [[[\"dev\"], [\"https://x/\"]]], \"d\": " + std::string(20, '[') +
      std::string(20, ']') + "}";
  EXPECT_FALSE(ParseRdapBootstrap(deep));
}

TEST(RdapBootstrap, RefreshesOnceADayAndTakesTheNewerCopy) {
  const long long day = kRdapBootstrapRefreshAge;
  EXPECT_TRUE(RdapBootstrapRefreshDue(std::nullopt, std::nullopt));
  EXPECT_TRUE(RdapBootstrapRefreshDue(day, std::nullopt));
  EXPECT_TRUE(RdapBootstrapRefreshDue(day + 5, day));
  EXPECT_TRUE(RdapBootstrapRefreshDue(-60, std::nullopt));  // a clock set back
  EXPECT_FALSE(RdapBootstrapRefreshDue(day - 1, std::nullopt));
  EXPECT_FALSE(RdapBootstrapRefreshDue(std::nullopt, 0));

  const RdapBootstrap older{"2024-04-24T18:00:02Z", {}}, newer{"2025-01-02T00:00:00Z", {}};
  EXPECT_EQ(NewerBootstrap(&newer, &older), &newer);
  EXPECT_EQ(NewerBootstrap(&older, &newer), &newer);  // a stale cache gives way
  EXPECT_EQ(NewerBootstrap(&older, &older), &older);
  EXPECT_EQ(NewerBootstrap(nullptr, &older), &older);
  EXPECT_EQ(NewerBootstrap(&newer, nullptr), &newer);
}

TEST(RdapPath, PortFortyThreeRowsFallBackAndTheDefaultServerAsksRdapFirst) {
  EXPECT_EQ(ChooseWhoisPath("whois.denic.de", false), WhoisPath::Port43ThenRdap);
  EXPECT_EQ(ChooseWhoisPath("whois.iana.org", false), WhoisPath::RdapFirst);
  EXPECT_EQ(ChooseWhoisPath("whois.iana.org", true), WhoisPath::Port43);
  EXPECT_EQ(ChooseWhoisPath("HTTPS://rdap.test/", true), WhoisPath::RdapUrl);
  EXPECT_EQ(ChooseWhoisPath("http://rdap.test/", true), WhoisPath::Port43);
  EXPECT_EQ(RdapDomainUrl("https://r.test/rdap", "b\xC3\xBC cher/?#.de"),
            "https://r.test/rdap/domain/b%C3%BC%20cher%2F%3F%23.de");
}

TEST(RdapAnswer, ValuesOfTheWrongTypeAreLeftOutAndBadAnswersNamed) {
  RdapReply reply;
  reply.url = "https://[2001:db8::1]:8443/rdap/domain/x.dev";
  reply.httpStatus = 200;
  reply.body = R"({"ldhName": 7, "handle": "H\u0007", "status": ["active", 3, {}],
                   "nameservers": [1, {"ldhName": ["x"]}, {"ldhName": "ns.x.dev"}],
                   "entities": [{"roles": "registrar"}, {"roles": ["registrant"],
                                 "vcardArray": ["vcard", [["fn"], ["adr", {}, "text", 5],
                                                          ["email", {}, "text", ["a@x.dev"]]]]}],
                   "secureDNS": {"delegationSigned": "yes"}, "notices": [1, {"title": 2}],
                   "links": [{"rel": "related", "type": "application/rdap+json",
                              "href": "http://registrar.test/domain/x.dev"}]})";
  const RdapText text = RenderRdapReply(reply, "x.dev", reply.url);
  EXPECT_EQ(text.text,
            "Registry Domain ID: H\\007\r\n"
            "Domain Status: active\r\n"
            "Name Server: ns.x.dev\r\n"
            "Registrant Email: a@x.dev\r\n"
            "\r\n"
            "Notice\r\n");
  EXPECT_TRUE(text.registrarUrl.empty());  // plain HTTP is never followed

  for (const std::string& body : {std::string("[]"), std::string("{\"a\": "),
                                  std::string(100, '[') + std::string(100, ']')}) {
    reply.body = body;
    EXPECT_EQ(RenderRdapReply(reply, "x.dev", reply.url).text,
              "Malformed Answer From RDAP Server: 2001:db8::1\r\n");
  }
}
