#include "sync/login.h"

#include "base/automation_error.h"
#include "base/conversions.h"
#include "net/reply_envelope.h"
#include "store/credential_record.h"

namespace qmx {

AcceptedLogin acceptedLogin(Platform& platform, const XmlDocument& reply, const std::string& userName,
                            const std::string& password) {
  if (!reply) throw AutomationError(kObjectNotSet);
  const pugi::xml_attribute levelAttribute = envelopeStatus(*reply).attribute("levelNum");
  if (!levelAttribute) throw AutomationError(kInvalidUseOfNull);
  const std::int16_t level = textToInteger(levelAttribute.value());
  return {credentialRecordBytes(userName, platform.hashPassword(password), level), level};
}

std::optional<std::int16_t> offlineLogin(Platform& platform, const std::string& userName,
                                         const std::string& password) {
  const CredentialRecord record = readCredentialRecord(platform);
  const std::int16_t level = textToInteger(record.levelText);
  if (passwordMatchesRecord(platform, record, password) && record.userName == userName) return level;
  return std::nullopt;
}

}  // namespace qmx
