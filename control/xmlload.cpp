// Creation, property reads and writes with their notifications, and the members
// that hand their work to the components below.
#include "control/xmlload.h"

#include "base/ascii_text.h"
#include "cipher/string_cipher.h"
#include "net/http_call.h"
#include "net/server_pages.h"
#include "net/service_connection.h"
#include "orders/purchase_order.h"
#include "settings/connected_state.h"
#include "store/credential_record.h"
#include "store/key_log.h"
#include "store/local_store.h"
#include "sync/back_online.h"
#include "sync/login.h"
#include "sync/page_loading.h"

namespace qmx {
namespace {

// What a call produced goes to the error properties, each write notified.
void recordCall(XMLLoad& control, const CallResult& call) {
  if (call.replacedErrorNumber) control.put_ErrorNumber(*call.replacedErrorNumber);
  control.put_ErrorNumber(call.errorNumber);
  control.put_ErrorDesc(call.errorDesc);
}

}  // namespace

XMLLoad::XMLLoad(Platform& platform, PropertyChangeHandler onPropertyChange)
    : platform_(platform),
      onPropertyChange_(std::move(onPropertyChange)),
      connection_(std::make_unique<ServiceConnection>(platform)) {
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

// ---- Methods.

void XMLLoad::SetOffline(bool bOff) { switchOffline(platform_, bOff); }

bool XMLLoad::getOffline() { return isOffline(platform_); }

std::string XMLLoad::FileEncodeAndDecode(std::string& sInputString, const std::string& PasswordKey) {
  // Reads and writes no state of the control: the result depends on the two arguments alone.
  return fileEncodeAndDecode(sInputString, PasswordKey);
}

XmlDocument XMLLoad::HTTPCall(const std::string& /*sXML: never sent*/, const std::string& sAction) {
  CallResult call = httpCall(*connection_, platform_, sAction);
  recordCall(*this, call);
  return std::move(call.document);
}

bool XMLLoad::Login(const std::string& sUserName, const std::string& sPassword) {
  if (!getOffline()) {
    const XmlDocument reply =
        HTTPCall(std::string(), loginAddress(serverBase_, sUserName, sPassword, get_CompanyID()));
    if (get_ErrorNumber() != 0) {
      put_Authenticated(false);
      return false;
    }
    // Made before any state changes, so that a failure to hash changes nothing.
    const AcceptedLogin accepted = acceptedLogin(platform_, reply, sUserName, sPassword);
    try {
      writeCredentialRecord(platform_, accepted.recordBytes);
    } catch (const AutomationError&) {
      // Without its record the login is not complete: the control is left as a
      // refused login leaves it, and the file system's error reaches the host.
      put_Authenticated(false);
      throw;
    }
    put_Authenticated(true);
    levelNum_ = accepted.level;
    return true;
  }
  const std::optional<std::int16_t> level = offlineLogin(platform_, sUserName, sPassword);
  put_Authenticated(level.has_value());
  if (level) levelNum_ = *level;
  return level.has_value();
}

XmlDocument XMLLoad::XMLLoad_(std::string& sWebService, const std::string& sFile, const std::string& sAction) {
  bOffline = getOffline();
  DataSetRequest request;
  request.page = sWebService;
  request.dataPath = get_DataPath();
  request.file = sFile;
  request.action = upperAscii(sAction);
  request.authenticated = get_Authenticated();
  request.offline = bOffline;
  request.requester = {lMachineID, get_Location(), get_CompanyID()};
  DataSetLoad load = loadDataSet(*connection_, platform_, request);
  // Applied in the order the work happened: the address asked for, what
  // HTTPCall recorded, then the failure that came after.
  if (load.requestAddress) sWebService = std::move(*load.requestAddress);
  if (load.recorded) recordCall(*this, *load.recorded);
  if (load.failure) std::rethrow_exception(load.failure);
  return std::move(load.document);
}

void XMLLoad::SaveLocal(const std::string& sTransXML, const std::string& sFile) {
  saveLocal(platform_, get_DataPath(), sTransXML, sFile);
}

void XMLLoad::BackOnline() {
  uploadSavedTransactions(*connection_, platform_, {get_DataPath(), serverBase_, get_CompanyID()});
}

std::string XMLLoad::getKey() {
  const std::int16_t number = recordNextRunningNumber(platform_, get_DataPath());
  return temporaryKey(lMachineID, get_Location(), number);
}

std::string XMLLoad::GetXSL(const Variant& sFileName) {
  return readSavedStyleSheet(platform_, get_DataPath(), variantToText(sFileName));
}

void XMLLoad::DeleteLocalData() { deleteLocalData(platform_, get_DataPath()); }

bool XMLLoad::SaveElectronicPurchaseOrder(std::string vDocumentNumber, std::string vPurchaseOrderData) {
  return saveElectronicPurchaseOrder(platform_, vDocumentNumber, vPurchaseOrderData);
}

// ---- Properties.

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
  std::string base(trimmed(value, " "));
  if (base.empty() || base.back() != '/') base.push_back('/');
  serverBase_ = std::move(base);
}

// ---- Host comforts.

void XMLLoad::setHttpLimits(const HttpLimits& limits) { connection_->setLimits(limits); }

void XMLLoad::setProgressHandler(ProgressHandler handler) { connection_->setProgressHandler(std::move(handler)); }

}  // namespace qmx
