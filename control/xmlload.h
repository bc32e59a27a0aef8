// The control object: its state, its properties with their change
// notifications, its start-up, and every member a host can call. A facade: each
// member hands its work to the component that owns it (settings, wire, files,
// synchronisation, cipher, orders) and keeps the properties and their
// notifications to itself. This header is the whole public surface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/automation_error.h"
#include "base/variant.h"
#include "base/xml_text.h"
#include "platform/platform.h"

namespace qmx {

class ServiceConnection;

// The default server base address: qmx-server's default address.
inline constexpr const char* kDefaultServerBase = "http://127.0.0.1:8631/";

// The host's notice that a property changed; receives the property's name.
using PropertyChangeHandler = std::function<void(const std::string& propertyName)>;

class XMLLoad {
 public:
  // Creates the control over a platform and runs its start-up. The handler, when
  // given, sees the start-up's notifications too. An error that ends the start-up
  // does not prevent creation: it is kept in startupError() and the control stays
  // usable in the state the start-up reached.
  explicit XMLLoad(Platform& platform, PropertyChangeHandler onPropertyChange = {});
  ~XMLLoad();
  XMLLoad(const XMLLoad&) = delete;
  XMLLoad& operator=(const XMLLoad&) = delete;

  // The error that ended the start-up, if one did.
  const std::optional<AutomationError>& startupError() const { return startupError_; }

  // ---- Methods (dispatch names in comments where the C++ name differs).

  void SetOffline(bool bOff);
  bool getOffline();
  // Scrambles or unscrambles; sInputString is rewritten with its escape pairs resolved.
  std::string FileEncodeAndDecode(std::string& sInputString, const std::string& PasswordKey);
  // The reply document, or nullptr (Nothing); sets ErrorNumber and ErrorDesc.
  XmlDocument HTTPCall(const std::string& sXML, const std::string& sAction);
  bool Login(const std::string& sUserName, const std::string& sPassword);
  // Dispatch name "XMLLoad" (C++ does not allow a member named like its class).
  // sWebService is rewritten with the full request address when a request is made.
  XmlDocument XMLLoad_(std::string& sWebService, const std::string& sFile,
                       const std::string& sAction = {});
  void SaveLocal(const std::string& sTransXML, const std::string& sFile);
  void BackOnline();
  std::string getKey();
  void ChooseInstall(const std::string& sCompanyID);
  std::string GetXSL(const Variant& sFileName);
  void DeleteLocalData();
  bool SaveElectronicPurchaseOrder(std::string vDocumentNumber, std::string vPurchaseOrderData);

  // ---- Properties.

  std::string get_Configured() const { return configured_; }
  void put_Configured(const std::string& value);
  std::int16_t get_Location() const { return location_; }
  void put_Location(std::int16_t value);
  bool get_Authenticated() const { return authenticated_; }
  void put_Authenticated(bool value);
  std::string get_CompanyID() const { return companyID_; }
  void put_CompanyID(const std::string& value);
  bool get_InvoicePreprint() const { return invoicePreprint_; }
  void put_InvoicePreprint(bool value);
  std::string get_DataPath() const { return dataPath_; }
  void put_DataPath(const std::string& value);
  std::int16_t get_ErrorNumber() const { return errorNumber_; }
  void put_ErrorNumber(std::int16_t value);
  std::string get_ErrorDesc() const { return errorDesc_; }
  void put_ErrorDesc(const std::string& value);
  // The level number as decimal text.
  std::string get_LevelNum() const;
  std::string get_ServerBase() const { return serverBase_; }
  void put_ServerBase(const std::string& value);

  // ---- Host comforts beyond the dispatch interface.

  // Connect and stall limits and the reply size cap of this control's requests.
  void setHttpLimits(const HttpLimits& limits);
  // Called with (done, total) while BackOnline works through many files and while
  // a large download arrives; total is 0 when unknown.
  using ProgressHandler = std::function<void(std::uint64_t done, std::uint64_t total)>;
  void setProgressHandler(ProgressHandler handler);

 private:
  void notify(const char* propertyName);
  void runStartup();

  Platform& platform_;
  PropertyChangeHandler onPropertyChange_;
  std::optional<AutomationError> startupError_;
  // The control's one line to the service, opened on first use.
  std::unique_ptr<ServiceConnection> connection_;

  // Instance state, in declared order.
  std::int32_t lMachineID = 0;
  bool bOffline = false;
  std::string configured_;
  std::int16_t location_ = 0;
  bool authenticated_ = false;
  std::string companyID_;
  bool invoicePreprint_ = false;
  std::string dataPath_;
  std::int16_t errorNumber_ = 0;
  std::string errorDesc_;
  std::int16_t levelNum_ = 0;
  std::string serverBase_;
};

}  // namespace qmx
