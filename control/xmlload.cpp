// Creation, property reads and writes, and their notifications.
#include "control/xmlload.h"

namespace qmx {

XMLLoad::XMLLoad(Platform& platform, PropertyChangeHandler onPropertyChange)
    : platform_(platform), onPropertyChange_(std::move(onPropertyChange)) {
  try {
    runStartup();
  } catch (const AutomationError& e) {
    // The start-up only lets its error escape; the host learns of it here and
    // keeps a control in the state the start-up reached.
    startupError_ = e;
  }
}

XMLLoad::~XMLLoad() = default;

void XMLLoad::notify(const char* propertyName) {
  if (onPropertyChange_) onPropertyChange_(propertyName);
}

void XMLLoad::put_Configured(const std::string& value) {
  configured_ = value;
  notify("Configured");
}

void XMLLoad::put_Authenticated(bool value) {
  authenticated_ = value;
  notify("Authenticated");
}

void XMLLoad::put_CompanyID(const std::string& value) {
  companyID_ = value;
  notify("CompanyID");
}

void XMLLoad::put_InvoicePreprint(bool value) {
  invoicePreprint_ = value;
  notify("InvoicePreprint");
}

void XMLLoad::put_DataPath(const std::string& value) {
  dataPath_ = value;
  notify("DataPath");
}

void XMLLoad::put_ErrorNumber(std::int16_t value) {
  errorNumber_ = value;
  notify("ErrorNumber");
}

void XMLLoad::put_ErrorDesc(const std::string& value) {
  errorDesc_ = value;
  notify("ErrorDesc");
}

std::string XMLLoad::get_LevelNum() const { return std::to_string(levelNum_); }

void XMLLoad::put_ServerBase(const std::string& value) {
  // Only U+0020 is trimmed: tabs at the ends stay.
  const auto first = value.find_first_not_of(' ');
  std::string trimmed =
      first == std::string::npos ? std::string() : value.substr(first, value.find_last_not_of(' ') - first + 1);
  if (trimmed.empty() || trimmed.back() != '/') trimmed.push_back('/');
  serverBase_ = std::move(trimmed);
}

void XMLLoad::setHttpLimits(const HttpLimits& limits) {
  httpLimits_ = limits;
  if (http_) http_->setLimits(limits);
}

}  // namespace qmx
