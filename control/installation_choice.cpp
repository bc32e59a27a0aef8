// Choosing an installation loads its settings from the registry through the
// properties, so the host sees every change notified; Location re-derives the
// data directory from the installation named by CompanyID.
#include "base/conversions.h"
#include "control/xmlload.h"
#include "settings/reg_main.h"

namespace qmx {

void XMLLoad::ChooseInstall(const std::string& sCompanyID) {
  // No error handling: a setting that does not convert ends the choice there,
  // with what was already loaded kept.
  put_Configured("True");
  put_CompanyID(GetRegKey(platform_, sCompanyID));
  put_Location(textToInteger(GetRegKey(platform_, sCompanyID + "\\fkLocationID")));
  lMachineID = textToLong(GetRegKey(platform_, sCompanyID + "\\iKey"));
  put_InvoicePreprint(textToBoolean(GetRegKey(platform_, sCompanyID + "\\InvoicePreprint")));
  // The final data directory comes from the installation named by the argument,
  // which may differ from the one the Location write looked under.
  put_DataPath(GetRegKey(platform_, sCompanyID + "\\DataPath") + "\\" + std::to_string(get_Location()));
}

void XMLLoad::put_Location(std::int16_t value) {
  location_ = value;
  notify("Location");
  put_DataPath(GetRegKey(platform_, get_CompanyID() + "\\DataPath") + "\\" + std::to_string(value));
}

}  // namespace qmx
