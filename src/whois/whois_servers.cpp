#include "whois/whois_servers.h"

#include <span>

#include "whois/rdap_bootstrap.h"

namespace {

// The registries' port-43 servers. Where a registry runs no port-43 service, the row names the
// root zone's server, which answers with the delegation and a "refer:" line.
constexpr WhoisServerTable kServers = {{
    {"ac", "whois.nic.ac"},
    {"ad", "whois.nic.ad"},
    {"aero", "whois.aero"},
    {"af", "whois.nic.af"},
    {"ag", "whois.nic.ag"},
    {"am", "whois.amnic.net"},
    {"as", "whois.nic.as"},
    {"at", "whois.nic.at"},
    {"au", "whois.auda.org.au"},
    {"be", "whois.dns.be"},
    {"bg", "whois.register.bg"},
    {"biz", "whois.nic.biz"},
    {"br", "whois.registro.br"},
    {"by", "whois.cctld.by"},
    {"bz", "whois.identitydigital.services"},
    {"ca", "whois.cira.ca"},
    {"cc", "ccwhois.verisign-grs.com"},
    {"cd", "whois.nic.cd"},
    {"ch", "whois.nic.ch"},
    {"cl", "whois.nic.cl"},
    {"cn", "whois.cnnic.cn"},
    {"co", "whois.registry.co"},
    {"com", "whois.verisign-grs.com"},
    {"cx", "whois.nic.cx"},
    {"cz", "whois.nic.cz"},
    {"de", "whois.denic.de"},
    {"dk", "whois.punktum.dk"},
    {"ec", "whois.nic.ec"},
    {"edu", "whois.educause.edu"},
    {"es", "whois.iana.org"},
    {"fi", "whois.fi"},
    {"fo", "whois.nic.fo"},
    {"fr", "whois.nic.fr"},
    {"gf", "whois.mediaserv.net"},
    {"gov", "whois.nic.gov"},
    {"gs", "whois.nic.gs"},
    {"hk", "whois.hkirc.hk"},
    {"hr", "whois.dns.hr"},
    {"hu", "whois.nic.hu"},
    {"id", "whois.id"},
    {"ie", "whois.weare.ie"},
    {"il", "whois.isoc.org.il"},
    {"in", "whois.nixiregistry.in"},
    {"info", "whois.iana.org"},
    {"is", "whois.isnic.is"},
    {"it", "whois.nic.it"},
    {"jp", "whois.jprs.jp"},
    {"kr", "whois.kr"},
    {"kz", "whois.nic.kz"},
    {"li", "whois.nic.li"},
    {"lt", "whois.domreg.lt"},
    {"lu", "whois.dns.lu"},
    {"lv", "whois.nic.lv"},
    {"mc", "whois.nic.mc"},
    {"mil", "whois.iana.org"},
    {"mm", "whois.registry.gov.mm"},
    {"ms", "whois.nic.ms"},
    {"mx", "whois.mx"},
    {"name", "whois.nic.name"},
    {"net", "whois.verisign-grs.com"},
    {"nl", "whois.domain-registry.nl"},
    {"no", "whois.norid.no"},
    {"nu", "whois.iis.nu"},
    {"nz", "whois.irs.net.nz"},
    {"org", "whois.pir.org"},
    {"ph", "whois.iana.org"},
    {"pl", "whois.dns.pl"},
    {"pro", "whois.iana.org"},
    {"pt", "whois.dns.pt"},
    {"ro", "whois.rotld.ro"},
    {"ru", "whois.tcinet.ru"},
    {"se", "whois.iis.se"},
    {"sg", "whois.sgnic.sg"},
    {"sh", "whois.nic.sh"},
    {"si", "whois.register.si"},
    {"sk", "whois.sk-nic.sk"},
    {"st", "whois.nic.st"},
    {"tc", "whois.nic.tc"},
    {"tf", "whois.nic.tf"},
    {"th", "whois.thnic.co.th"},
    {"tj", "whois.iana.org"},
    {"tk", "whois.dot.tk"},
    {"tm", "whois.nic.tm"},
    {"to", "whois.tonicregistry.to"},
    {"tr", "whois.trabis.gov.tr"},
    {"tv", "whois.nic.tv"},
    {"tw", "whois.twnic.net.tw"},
    {"ua", "whois.ua"},
    {"uk", "whois.nic.uk"},
    {"us", "whois.nic.us"},
    {"vg", "whois.nic.vg"},
    {"ws", "whois.website.ws"},
    {"za", "whois.nic.za"},
}};

// Second-level zones under com and net that one registry runs, and the academic zone under uk.
constexpr std::string_view kSharedZonesServer = "whois.centralnic.net";
constexpr std::string_view kSharedComZones[] = {".uk.com", ".gb.com"};
constexpr std::string_view kSharedNetZones[] = {".uk.net", ".gb.net"};
constexpr std::string_view kAcademicZone = ".ac.uk";
constexpr std::string_view kAcademicServer = "whois.nic.ac.uk";

void LowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
}

// Whether the name lies below one of the zones: it ends in the zone's suffix, whose leading dot
// puts it on a label boundary (so "shop.uk.community.com" is not below "uk.com", nor is the zone
// "uk.com" itself).
bool BelowAny(std::string_view name, std::span<const std::string_view> suffixes) {
  for (std::string_view suffix : suffixes) {
    if (name.ends_with(suffix)) return true;
  }
  return false;
}

// The server of a matched row, after the second-level rules of com, net and uk.
std::string_view ServerOfRow(const WhoisServerRow& row, std::string_view name) {
  if (row.key == "com" && BelowAny(name, kSharedComZones)) return kSharedZonesServer;
  if (row.key == "net" && BelowAny(name, kSharedNetZones)) return kSharedZonesServer;
  if (row.key == "uk" && name.ends_with(kAcademicZone)) return kAcademicServer;
  return row.server;
}

}  // namespace

const WhoisServerTable& WhoisServers() {
  return kServers;
}

std::optional<std::string> SelectWhoisServer(std::string& name, bool customServerChecked,
                                             std::string_view customServerText) {
  LowerAscii(name);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return std::nullopt;
  const std::string_view label = std::string_view(name).substr(dot + 1);

  std::string_view server;
  if (customServerChecked) {
    server = customServerText;
  } else {
    for (const WhoisServerRow& row : kServers) {
      if (row.key == label) {
        server = ServerOfRow(row, name);
        break;
      }
    }
  }
  if (server.empty()) server = kWhoisDefaultServer;
  return std::string(server);
}

WhoisPath ChooseWhoisPath(std::string_view server, bool customServerChecked) {
  if (customServerChecked) return IsRdapBaseUrl(server) ? WhoisPath::RdapUrl : WhoisPath::Port43;
  return server == kWhoisDefaultServer ? WhoisPath::RdapFirst : WhoisPath::Port43ThenRdap;
}
