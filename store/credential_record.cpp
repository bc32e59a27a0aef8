#include "store/credential_record.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "base/automation_error.h"
#include "base/codepage.h"
#include "base/xml_text.h"
#include "base/xml_wellformed.h"
#include "store/xml_file_text.h"

namespace qmx {

std::string credentialRecordBytes(const std::string& userName, const std::string& passwordHash,
                                  std::int16_t level) {
  pugi::xml_document record;
  pugi::xml_node root = record.append_child("xml");
  root.append_child("username").text().set(userName.c_str());
  root.append_child("pwd").text().set(passwordHash.c_str());
  root.append_child("levelNum").text().set(std::to_string(level).c_str());
  // A carriage return is written as a reference, because a parser folds a raw
  // one into a line feed and the value would no longer read back exactly.
  std::string xml;
  for (const char c : xmlText(record)) {
    if (c == '\r') xml += "&#13;";
    else xml += c;
  }
  return xmlUtf8ToSingleByte(xml);
}

void writeCredentialRecord(Platform& platform, const std::string& bytes) {
  platform.replaceFile(kCredentialRecordPath, bytes, FileAccess::OwnerOnly);
}

CredentialRecord readCredentialRecord(Platform& platform) {
  std::optional<std::string> bytes;
  try {
    bytes = platform.readFile(kCredentialRecordPath);
  } catch (const AutomationError& e) {
    // Still 91, as for any unreadable record, but saying which file and why.
    throw AutomationError(kObjectNotSet, standardErrorText(kObjectNotSet) + ": " + e.description());
  }
  if (!bytes) throw AutomationError(kObjectNotSet);
  const std::string text = xmlFileText(platform, *bytes);
  pugi::xml_document document;
  // Whitespace-only values are kept: a name of spaces must read back as written.
  const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata;
  if (!isWellFormedXml(text) || !document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8))
    throw AutomationError(kObjectNotSet);
  const pugi::xml_node root = document.child("xml");
  const pugi::xml_node userName = root.child("username");
  const pugi::xml_node password = root.child("pwd");
  const pugi::xml_node level = root.child("levelNum");
  if (!userName || !password || !level) throw AutomationError(kObjectNotSet);
  return {textContent(userName), textContent(password), textContent(level)};
}

namespace {

// "$scheme$...": how every crypt-style hash starts, whatever its scheme. Such a
// record is never clear text, or its hash text would pass for the password.
bool looksLikeHash(const std::string& text) {
  const std::size_t end = text.find('$', 1);
  if (text.empty() || text[0] != '$' || end == std::string::npos || end == 1) return false;
  return std::all_of(text.begin() + 1, text.begin() + static_cast<std::ptrdiff_t>(end), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

}  // namespace

bool passwordMatchesRecord(Platform& platform, const CredentialRecord& record, const std::string& password) {
  if (platform.isPasswordHash(record.password)) return platform.passwordMatchesHash(password, record.password);
  if (looksLikeHash(record.password)) {
    throw AutomationError(kPermissionDenied, standardErrorText(kPermissionDenied) + ": the credential record " +
                                                 kCredentialRecordPath +
                                                 " holds a password hash this machine cannot check; an online"
                                                 " login is needed once on this machine");
  }
  // Records written before passwords were hashed hold clear text; they keep
  // working until the next online login replaces them.
  return record.password == password;
}

}  // namespace qmx
