#include "whois/rdap_answer.h"

#include <set>
#include <vector>

#include "base/outside_text.h"
#include "whois/rdap_bootstrap.h"
#include "whois/rdap_json.h"

namespace {

using Json = nlohmann::json;

// A server's text on one line of ours: control characters escaped, so it cannot end the line.
std::string Shown(std::string_view text) {
  return EscapedTextFromOutside(text, '\n');
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

class Lines {
 public:
  void add(std::string_view label, std::string_view value) {
    if (value.empty()) return;
    text_.append(label).append(": ").append(Shown(value)).append("\r\n");
  }
  void raw(std::string_view line) { text_.append(line).append("\r\n"); }
  std::string take() { return std::move(text_); }

 private:
  std::string text_;
};

bool HasRole(const Json& entity, std::string_view role) {
  const Json* roles = JsonArray(entity, "roles");
  if (roles == nullptr) return false;
  for (size_t i = 0; i < roles->size(); ++i) {
    const std::string* r = JsonStringAt(*roles, i);
    if (r != nullptr && EqualsNoCase(*r, role)) return true;
  }
  return false;
}

const Json* EntityWithRole(const Json& holder, std::string_view role) {
  const Json* entities = JsonArray(holder, "entities");
  if (entities == nullptr) return nullptr;
  for (const Json& entity : *entities) {
    if (HasRole(entity, role)) return &entity;
  }
  return nullptr;
}

// The properties of an entity's jCard (RFC 7095): ["vcard", [[name, params, type, value], ...]].
std::vector<const Json*> CardProperties(const Json& entity) {
  std::vector<const Json*> properties;
  const Json* card = JsonArray(entity, "vcardArray");
  if (card == nullptr || card->size() < 2 || !(*card)[1].is_array()) return properties;
  for (const Json& property : (*card)[1]) {
    if (property.is_array() && property.size() >= 4 && property[0].is_string()) {
      properties.push_back(&property);
    }
  }
  return properties;
}

bool IsProperty(const Json& property, std::string_view name) {
  return EqualsNoCase(property[0].get_ref<const std::string&>(), name);
}

// A property's value as text: a string, or the first string of a list.
std::string CardText(const Json& value) {
  if (value.is_string()) return value.get_ref<const std::string&>();
  if (const std::string* first = JsonStringAt(value, 0)) return *first;
  return {};
}

// Every string of an address component (a component may be a list, such as street lines).
std::vector<std::string> ComponentTexts(const Json& value) {
  std::vector<std::string> texts;
  if (value.is_string()) {
    if (!value.get_ref<const std::string&>().empty()) texts.push_back(value);
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      const std::string* text = JsonStringAt(value, i);
      if (text != nullptr && !text->empty()) texts.push_back(*text);
    }
  }
  return texts;
}

bool IsFax(const Json& property) {
  const Json& params = property[1];
  if (!params.is_object()) return false;
  const auto type = params.find("type");
  if (type == params.end()) return false;
  if (type->is_string()) return EqualsNoCase(type->get_ref<const std::string&>(), "fax");
  if (!type->is_array()) return false;
  for (size_t i = 0; i < type->size(); ++i) {
    const std::string* t = JsonStringAt(*type, i);
    if (t != nullptr && EqualsNoCase(*t, "fax")) return true;
  }
  return false;
}

std::string PhoneNumber(std::string text) {
  if (text.size() >= 4 && EqualsNoCase(std::string_view(text).substr(0, 4), "tel:")) {
    text.erase(0, 4);
  }
  return text;
}

// The first value of the named property in an entity's card.
std::string CardValue(const Json& entity, std::string_view name) {
  for (const Json* property : CardProperties(entity)) {
    if (IsProperty(*property, name)) return CardText((*property)[3]);
  }
  return {};
}

// One contact's fields, in the order port-43 answers give them.
struct Contact {
  std::string handle, name, organization;
  std::vector<std::string> street;
  std::string city, region, postalCode, country;
  std::vector<std::string> phone, fax, email;
};

Contact ReadContact(const Json& entity) {
  Contact c;
  if (const std::string* handle = JsonString(entity, "handle")) c.handle = *handle;
  for (const Json* p : CardProperties(entity)) {
    const Json& value = (*p)[3];
    if (IsProperty(*p, "fn")) {
      if (c.name.empty()) c.name = CardText(value);
    } else if (IsProperty(*p, "org")) {
      if (c.organization.empty()) c.organization = CardText(value);
    } else if (IsProperty(*p, "adr") && c.street.empty() && c.city.empty()) {
      if (value.is_array() && value.size() >= 7) {
        c.street = ComponentTexts(value[2]);
        c.city = CardText(value[3]);
        c.region = CardText(value[4]);
        c.postalCode = CardText(value[5]);
        c.country = CardText(value[6]);
      }
      if (const std::string* code = JsonString((*p)[1], "cc")) c.country = *code;
      if (const std::string* label = JsonString((*p)[1], "label"); label && c.street.empty()) {
        // An unstructured address: its lines, each a street line.
        size_t start = 0;
        while (start <= label->size()) {
          const size_t end = std::min(label->find('\n', start), label->size());
          if (end > start) c.street.push_back(label->substr(start, end - start));
          start = end + 1;
        }
      }
    } else if (IsProperty(*p, "tel")) {
      (IsFax(*p) ? c.fax : c.phone).push_back(PhoneNumber(CardText(value)));
    } else if (IsProperty(*p, "email")) {
      c.email.push_back(CardText(value));
    }
  }
  return c;
}

// The contact label of a role, as port-43 answers name it.
std::string RoleLabel(const std::string& role) {
  if (EqualsNoCase(role, "administrative")) return "Admin";
  if (EqualsNoCase(role, "technical")) return "Tech";
  std::string label = role;
  if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') label[0] = char(label[0] - 'a' + 'A');
  return label;
}

// The fields a server marks as redacted (RFC 9537), by name ("Registrant Name"); each is printed
// once, where its contact is or, when the contact is gone, after the contacts.
class Redactions {
 public:
  explicit Redactions(const Json& answer) {
    const Json* redacted = JsonArray(answer, "redacted");
    if (redacted == nullptr) return;
    for (const Json& entry : *redacted) {
      const Json* name = JsonObject(entry, "name");
      if (name == nullptr) continue;
      const std::string* text = JsonString(*name, "description");
      if (text == nullptr) text = JsonString(*name, "type");
      if (text != nullptr && !text->empty() && names_.insert(*text).second) order_.push_back(*text);
    }
  }

  // Prints the field, or "REDACTED" where it is empty and the server marks it.
  void add(Lines& lines, const std::string& label, const std::string& value) {
    const bool marked = names_.erase(label) > 0;
    if (!value.empty()) {
      lines.add(label, value);
    } else if (marked) {
      lines.add(label, "REDACTED");
    }
  }
  void addEach(Lines& lines, const std::string& label, const std::vector<std::string>& values) {
    if (values.empty()) add(lines, label, {});
    for (const std::string& value : values) add(lines, label, value);
  }
  void addRest(Lines& lines) {
    for (const std::string& name : order_) {
      if (names_.count(name) != 0) lines.add(name, "REDACTED");
    }
  }

 private:
  std::set<std::string> names_;
  std::vector<std::string> order_;
};

void AddContact(Lines& lines, Redactions& redactions, const std::string& role, const Contact& c) {
  redactions.add(lines, "Registry " + role + " ID", c.handle);
  redactions.add(lines, role + " Name", c.name);
  redactions.add(lines, role + " Organization", c.organization);
  redactions.addEach(lines, role + " Street", c.street);
  redactions.add(lines, role + " City", c.city);
  redactions.add(lines, role + " State/Province", c.region);
  redactions.add(lines, role + " Postal Code", c.postalCode);
  redactions.add(lines, role + " Country", c.country);
  redactions.addEach(lines, role + " Phone", c.phone);
  redactions.addEach(lines, role + " Fax", c.fax);
  redactions.addEach(lines, role + " Email", c.email);
}

// Every entity but the registrar, under each of its roles, in the answer's order.
void AddContacts(Lines& lines, const Json& answer) {
  Redactions redactions(answer);
  if (const Json* entities = JsonArray(answer, "entities")) {
    for (const Json& entity : *entities) {
      const Json* roles = JsonArray(entity, "roles");
      if (roles == nullptr || HasRole(entity, "registrar")) continue;
      const Contact contact = ReadContact(entity);
      for (size_t i = 0; i < roles->size(); ++i) {
        if (const std::string* role = JsonStringAt(*roles, i)) {
          AddContact(lines, redactions, Shown(RoleLabel(*role)), contact);
        }
      }
    }
  }
  redactions.addRest(lines);
}

std::string EventDate(const Json& answer, std::string_view action) {
  if (const Json* events = JsonArray(answer, "events")) {
    for (const Json& event : *events) {
      const std::string* a = JsonString(event, "eventAction");
      const std::string* date = JsonString(event, "eventDate");
      if (a != nullptr && date != nullptr && EqualsNoCase(*a, action)) return *date;
    }
  }
  return {};
}

std::string LinkHref(const Json& holder, std::string_view rel, std::string_view type = {}) {
  if (const Json* links = JsonArray(holder, "links")) {
    for (const Json& link : *links) {
      const std::string* r = JsonString(link, "rel");
      const std::string* t = JsonString(link, "type");
      const std::string* href = JsonString(link, "href");
      if (r == nullptr || href == nullptr || !EqualsNoCase(*r, rel)) continue;
      if (!type.empty() && (t == nullptr || !EqualsNoCase(*t, type))) continue;
      return *href;
    }
  }
  return {};
}

void AddRegistrar(Lines& lines, const Json& answer) {
  const Json* registrar = EntityWithRole(answer, "registrar");
  if (registrar == nullptr) return;
  lines.add("Registrar", CardValue(*registrar, "fn"));
  if (const Json* ids = JsonArray(*registrar, "publicIds")) {
    for (const Json& id : *ids) {
      const std::string* type = JsonString(id, "type");
      const std::string* value = JsonString(id, "identifier");
      if (type != nullptr && value != nullptr && EqualsNoCase(*type, "IANA Registrar ID")) {
        lines.add("Registrar IANA ID", *value);
        break;
      }
    }
  }
  std::string url = CardValue(*registrar, "url");
  if (url.empty()) url = LinkHref(*registrar, "about");
  lines.add("Registrar URL", url);
  if (const Json* abuse = EntityWithRole(*registrar, "abuse")) {
    lines.add("Registrar Abuse Contact Email", CardValue(*abuse, "email"));
  }
}

// A notice, remark or error text: a title line, then its description and links indented.
void AddNote(Lines& lines, const Json& note, std::string_view label) {
  lines.raw("");
  const std::string* title = JsonString(note, "title");
  lines.raw(title ? std::string(label) + ": " + Shown(*title) : std::string(label));
  if (const Json* description = JsonArray(note, "description")) {
    for (size_t i = 0; i < description->size(); ++i) {
      if (const std::string* line = JsonStringAt(*description, i)) lines.raw("  " + Shown(*line));
    }
  }
  if (const Json* links = JsonArray(note, "links")) {
    for (const Json& link : *links) {
      if (const std::string* href = JsonString(link, "href")) lines.raw("  " + Shown(*href));
    }
  }
}

void AddNotes(Lines& lines, const Json& holder, const char* key, std::string_view label) {
  if (const Json* notes = JsonArray(holder, key)) {
    for (const Json& note : *notes) {
      if (note.is_object()) AddNote(lines, note, label);
    }
  }
}

std::string DomainText(const Json& answer) {
  Lines lines;
  const std::string* ldh = JsonString(answer, "ldhName");
  if (ldh == nullptr) ldh = JsonString(answer, "unicodeName");
  if (ldh != nullptr) lines.add("Domain Name", *ldh);
  if (const std::string* handle = JsonString(answer, "handle")) {
    lines.add("Registry Domain ID", *handle);
  }
  AddRegistrar(lines, answer);
  lines.add("Updated Date", EventDate(answer, "last changed"));
  lines.add("Creation Date", EventDate(answer, "registration"));
  lines.add("Registry Expiry Date", EventDate(answer, "expiration"));
  if (const Json* status = JsonArray(answer, "status")) {
    for (size_t i = 0; i < status->size(); ++i) {
      if (const std::string* s = JsonStringAt(*status, i)) lines.add("Domain Status", *s);
    }
  }
  if (const Json* servers = JsonArray(answer, "nameservers")) {
    for (const Json& server : *servers) {
      const std::string* name = JsonString(server, "ldhName");
      if (name == nullptr) name = JsonString(server, "unicodeName");
      if (name != nullptr) lines.add("Name Server", *name);
    }
  }
  if (const Json* dnssec = JsonObject(answer, "secureDNS")) {
    const auto signedFlag = dnssec->find("delegationSigned");
    if (signedFlag != dnssec->end() && signedFlag->is_boolean()) {
      lines.add("DNSSEC", signedFlag->get<bool>() ? "signedDelegation" : "unsigned");
    }
  }
  AddContacts(lines, answer);
  AddNotes(lines, answer, "notices", "Notice");
  AddNotes(lines, answer, "remarks", "Remark");
  return lines.take();
}

// The registrar's record: a "related" link of the RDAP media type to an https URL that fits.
std::string RegistrarUrl(const Json& answer, std::string_view askedUrl) {
  const std::string href = LinkHref(answer, "related", "application/rdap+json");
  if (!IsRdapBaseUrl(href) || href.size() > kRdapUrlMax || href == askedUrl) return {};
  for (char c : href) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return {};
  }
  return href;
}

// An error answer (RFC 9083 section 6): its status line, then its title and description.
std::string ErrorText(const RdapReply& reply, std::string_view name) {
  Lines lines;
  if (reply.httpStatus == 404) {
    lines.raw("No Such Domain: " + Shown(name));
  } else if (reply.httpStatus == 429) {
    lines.raw(reply.retryAfter >= 0 ? "RDAP Server Busy: Try Again In " +
                                          std::to_string(reply.retryAfter) + " Seconds"
                                    : std::string("RDAP Server Busy: Try Again Later"));
  } else {
    lines.raw("RDAP Server Error: HTTP " + std::to_string(reply.httpStatus));
  }
  const std::optional<Json> error = ParseBoundedJson(reply.body);
  if (error && (JsonString(*error, "title") || JsonArray(*error, "description"))) {
    AddNote(lines, *error, "Error");
  }
  return lines.take();
}

std::string TransportText(const RdapReply& reply) {
  const std::string host = Shown(RdapUrlHost(reply.url));
  switch (reply.transport) {
    case RdapTransport::ResolveFailed:
      return "Failed To Resolve RDAP Server Name: " + host + "\r\n";
    case RdapTransport::ConnectFailed:
      return "Failed To Connect To RDAP Server: " + host + "\r\n";
    case RdapTransport::TlsFailed:
      return "Failed To Verify RDAP Server: " + host + "\r\n";
    case RdapTransport::NoAnswer:
      return "No Answer From RDAP Server: " + host + "\r\n";
    case RdapTransport::TooLarge:
      return "Memory Allocation Error!\r\n";
    case RdapTransport::TooManyRedirects:
      return "Too Many Redirects From RDAP Server: " + host + "\r\n";
    case RdapTransport::RedirectRefused:
      return "Redirect Refused, Not HTTPS: " + host + "\r\n";
    case RdapTransport::Ok:
    case RdapTransport::Cancelled:
      break;
  }
  return {};
}

}  // namespace

std::string RdapUrlLine(std::string_view url) {
  return "[RDAP: " + Shown(url) + "]\r\n\r\n";
}

std::string RdapUrlHost(std::string_view url) {
  std::string_view rest = url;
  if (const size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
    rest.remove_prefix(scheme + 3);
  }
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (!rest.empty() && rest.front() == '[') {
    rest = rest.substr(
        1, rest.find(']') == std::string_view::npos ? rest.size() - 1 : rest.find(']') - 1);
  } else {
    rest = rest.substr(0, rest.find(':'));
  }
  return std::string(rest.empty() ? url : rest);
}

RdapText RenderRdapReply(const RdapReply& reply, std::string_view name, std::string_view askedUrl) {
  RdapText out;
  if (reply.transport != RdapTransport::Ok) {
    out.text = TransportText(reply);
    return out;
  }
  out.answered = true;
  if (reply.httpStatus != 200) {
    out.text = ErrorText(reply, name);
    return out;
  }
  const std::optional<Json> answer = ParseBoundedJson(reply.body);
  if (!answer || !answer->is_object()) {
    out.text = "Malformed Answer From RDAP Server: " + Shown(RdapUrlHost(reply.url)) + "\r\n";
    return out;
  }
  out.text = DomainText(*answer);
  out.registrarUrl = RegistrarUrl(*answer, askedUrl);
  return out;
}
