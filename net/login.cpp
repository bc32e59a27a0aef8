// Login: online against the server's login page, offline against the credential
// record that the last successful online login left on drive C.
#include <string>

#include "control/xmlload.h"
#include "net/reply_envelope.h"
#include "platform/codepage.h"
#include "platform/conversions.h"
#include "platform/password_hash.h"
#include "platform/xml_text.h"

namespace qmx {
namespace {

constexpr const char* kCredentialRecord = "c:\\123.xml";

// The record as single-byte text. Values are escaped by the serialiser and a
// carriage return is written as a reference, because a parser folds a raw one
// into a line feed and the value would no longer read back exactly.
std::string credentialRecordBytes(const std::string& userName, const std::string& passwordHash,
                                  std::int16_t level) {
  pugi::xml_document record;
  pugi::xml_node root = record.append_child("xml");
  root.append_child("username").text().set(userName.c_str());
  root.append_child("pwd").text().set(passwordHash.c_str());
  root.append_child("levelNum").text().set(std::to_string(level).c_str());
  std::string xml;
  for (const char c : xmlText(record)) {
    if (c == '\r') xml += "&#13;";
    else xml += c;
  }
  return xmlUtf8ToSingleByte(xml);
}

struct CredentialRecord {
  std::string userName;
  std::string password;  // a hash, or clear text in a record written before hashing
  std::string levelText;
};

// Throws 91 when the record is missing, unreadable, not well-formed or lacks an element.
CredentialRecord readCredentialRecord(Platform& platform) {
  std::optional<std::string> bytes;
  try {
    bytes = platform.readFile(kCredentialRecord);
  } catch (const AutomationError&) {
    throw AutomationError(kObjectNotSet);
  }
  if (!bytes) throw AutomationError(kObjectNotSet);
  const std::string text = singleByteToUtf8(*bytes);
  pugi::xml_document document;
  // Whitespace-only values are kept: a name of spaces must read back as written.
  const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
  if (!document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8))
    throw AutomationError(kObjectNotSet);
  const pugi::xml_node root = document.child("xml");
  const pugi::xml_node userName = root.child("username");
  const pugi::xml_node password = root.child("pwd");
  const pugi::xml_node level = root.child("levelNum");
  if (!userName || !password || !level) throw AutomationError(kObjectNotSet);
  return {textContent(userName), textContent(password), textContent(level)};
}

}  // namespace

bool XMLLoad::Login(const std::string& sUserName, const std::string& sPassword) {
  if (!getOffline()) {
    const XmlDocument reply = HTTPCall(std::string(), ChkCompPage() + "?Action=Login&Username=" + sUserName +
                                                          "&Pwd=" + sPassword + "&CompanyID=" + get_CompanyID());
    if (get_ErrorNumber() != 0) {
      put_Authenticated(false);
      return false;
    }
    // A failure reply that claims number 0 leaves no document to read.
    if (!reply) throw AutomationError(kObjectNotSet);
    const pugi::xml_attribute levelAttribute = envelopeStatus(*reply).attribute("levelNum");
    if (!levelAttribute) throw AutomationError(kInvalidUseOfNull);
    const std::int16_t level = textToInteger(levelAttribute.value());
    // Made before any state changes, so that a failure to hash changes nothing.
    const std::string record = credentialRecordBytes(sUserName, hashPassword(sPassword), level);

    put_Authenticated(true);
    platform_.replaceFile(kCredentialRecord, record, FileAccess::OwnerOnly);
    levelNum_ = level;
    return true;
  }

  const CredentialRecord record = readCredentialRecord(platform_);
  const std::int16_t level = textToInteger(record.levelText);
  // Records written before passwords were hashed hold clear text; they keep
  // working until the next online login replaces them.
  const bool passwordMatches = isPasswordHash(record.password) ? passwordMatchesHash(sPassword, record.password)
                                                               : record.password == sPassword;
  if (passwordMatches && record.userName == sUserName) {
    put_Authenticated(true);
    levelNum_ = level;
    return true;
  }
  put_Authenticated(false);
  return false;
}

}  // namespace qmx
