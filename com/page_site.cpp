// The page's client site and the safety answers of the control.
#include "com/page_site.h"

#include <mshtml.h>

#include <new>

#include "com/qmxprodax_idl.h"
#include "com/site_lock.h"
#include "com/variant_bridge.h"

namespace qmx::com {
namespace {

constexpr DWORD kSafeOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

// The interfaces a script reaches the control through.
bool scriptable(REFIID riid) { return riid == IID_IDispatch || riid == DIID__XMLLoad; }

std::wstring takeText(LPOLESTR text, bool taskMemory) {
  std::wstring out = text ? text : L"";
  taskMemory ? ::CoTaskMemFree(text) : ::SysFreeString(text);
  return out;
}

}  // namespace

void* PageSite::interfaceFor(REFIID riid) {
  if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
  if (riid == IID_IObjectSafety) return static_cast<IObjectSafety*>(this);
  return nullptr;
}

bool PageSite::scriptingAllowed() noexcept {
  if (!askedForSafety_) return true;
  try {
    const std::wstring address = pageAddress();
    return (!address.empty() && address == allowedAddress_) || checkPage(address);
  } catch (...) {
    return false;
  }
}

bool PageSite::checkPage(const std::wstring& address) {
  allowedAddress_.clear();
  if (!pageAllowed(address)) return false;
  allowedAddress_ = address;
  return true;
}

HRESULT PageSite::refuse(EXCEPINFO* exception) noexcept {
  try {
    fillException(AutomationError(kSiteRefusedError,
                                  "Permission denied: this page's address is not among the control's allowed sites"),
                  exception);
    return DISP_E_EXCEPTION;
  } catch (...) {
    return E_ACCESSDENIED;
  }
}

HWND PageSite::siteWindow() const {
  HWND window = nullptr;
  ComPtr<IOleWindow> owner;
  if (site_ && (SUCCEEDED(site_->QueryInterface(IID_IOleInPlaceSite, owner.putVoid())) ||
                SUCCEEDED(site_->QueryInterface(IID_IOleWindow, owner.putVoid()))) &&
      owner && FAILED(owner->GetWindow(&window)))
    window = nullptr;
  return window;
}

// Browsers name the page through the container's moniker; Internet Explorer's
// document also tells its URL.
std::wstring PageSite::pageAddress() const {
  if (!site_) return {};
  ComPtr<IMoniker> moniker;
  ComPtr<IBindCtx> bind;
  LPOLESTR name = nullptr;
  if (SUCCEEDED(site_->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_CONTAINER, moniker.put())) && moniker &&
      SUCCEEDED(::CreateBindCtx(0, bind.put())) && SUCCEEDED(moniker->GetDisplayName(bind.get(), nullptr, &name))) {
    std::wstring address = takeText(name, true);
    if (!address.empty()) return address;
  }
  ComPtr<IOleContainer> container;
  ComPtr<IHTMLDocument2> document;
  BSTR url = nullptr;
  if (SUCCEEDED(site_->GetContainer(container.put())) && container &&
      SUCCEEDED(container->QueryInterface(IID_IHTMLDocument2, document.putVoid())) && document &&
      SUCCEEDED(document->get_URL(&url)))
    return takeText(url, false);
  return {};
}

STDMETHODIMP PageSite::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) {
  if (!supported || !enabled) return E_POINTER;
  *supported = *enabled = 0;
  if (!scriptable(riid)) return E_NOINTERFACE;
  *supported = kSafeOptions;
  *enabled = granted_;
  return S_OK;
}

// Safe only while the page's address is allowed, read afresh at each question:
// a later site on an allowed page and a new question make it safe.
STDMETHODIMP PageSite::SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) {
  if (!scriptable(riid)) return E_NOINTERFACE;
  const DWORD wanted = mask & enabled;
  if (wanted & kSafeOptions) askedForSafety_ = true;
  if (wanted & ~kSafeOptions) return E_FAIL;
  granted_ &= ~mask;
  if (wanted) {
    try {
      if (!checkPage(pageAddress())) return E_FAIL;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  granted_ |= wanted;
  return S_OK;
}

STDMETHODIMP PageSite::SetClientSite(IOleClientSite* site) {
  site_ = ComPtr<IOleClientSite>(site);
  return S_OK;
}

STDMETHODIMP PageSite::GetClientSite(IOleClientSite** out) {
  if (!out) return E_POINTER;
  *out = ComPtr<IOleClientSite>(site_).detach();
  return S_OK;
}

STDMETHODIMP PageSite::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP PageSite::GetClipboardData(DWORD, IDataObject** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP PageSite::EnumVerbs(IEnumOLEVERB** out) {
  if (out) *out = nullptr;
  return OLEOBJ_E_NOVERBS;
}

STDMETHODIMP PageSite::GetUserClassID(CLSID* out) {
  if (!out) return E_POINTER;
  *out = CLSID_XMLLoad;
  return S_OK;
}

STDMETHODIMP PageSite::GetUserType(DWORD, LPOLESTR* out) {
  if (out) *out = nullptr;
  return OLE_S_USEREG;
}

STDMETHODIMP PageSite::Advise(IAdviseSink*, DWORD* cookie) {
  if (cookie) *cookie = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP PageSite::EnumAdvise(IEnumSTATDATA** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP PageSite::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

}  // namespace qmx::com
