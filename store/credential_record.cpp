#include "store/credential_record.h"

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

bool passwordMatchesRecord(Platform& platform, const CredentialRecord& record, const std::string& password) {
  // Records written before passwords were hashed hold clear text; they keep
  // working until the next online login replaces them.
  return platform.isPasswordHash(record.password) ? platform.passwordMatchesHash(password, record.password)
                                                  : record.password == password;
}

}  // namespace qmx
