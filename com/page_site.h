// The control in a browser page: the client site the page gives it through
// IOleObject, and the browser's safety question through IObjectSafety,
// answered from the site lock (site_lock.h).
//
// The page is learned through IOleObject::SetClientSite only (what a browser
// does for an <object> tag, the site coming first as MiscStatus asks), never
// through IObjectWithSite: Wine's VBScript refuses CreateObject of any object
// offering IObjectWithSite when its host has no service provider, as cscript
// has none, so offering it would break the script hosts. A `new ActiveXObject`
// in a page therefore has no page address, and the control is not safe there.
//
// Once a host has asked for safety for untrusted callers or data, every call
// through IDispatch checks the page's address at that moment: a refusal
// leaves the control unscriptable even to a host that ignores the answer, and
// a site later moved to a refused page loses it. The list is read afresh at
// each question and for an address not yet found allowed; an address found
// allowed stays so until the next question (a registry read per call would
// cost more than the call). A host that never asks
// (script hosts, Office, PowerShell, Python, desktop programs) sees no change.
#pragma once

#include <windows.h>
#include <objsafe.h>
#include <oleidl.h>

#include <string>

#include "com/com_ptr.h"

namespace qmx::com {

// What the class registers as its MiscStatus and GetMiscStatus answers.
inline constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INVISIBLEATRUNTIME;

// The error number of a call refused by the site lock: 70, "Permission denied".
inline constexpr int kSiteRefusedError = 70;

// One part of the control object: its IUnknown is the owner's.
class PageSite final : public IOleObject, public IObjectSafety {
 public:
  explicit PageSite(IUnknown* owner) : owner_(owner) {}

  // This part's interface for riid, no reference taken; nullptr when none.
  void* interfaceFor(REFIID riid);

  // False when a host asked for safety and the page's address is not allowed
  // now (also when that cannot be told).
  bool scriptingAllowed() noexcept;
  // Fills the refused call's exception; the Invoke result to return.
  static HRESULT refuse(EXCEPINFO* exception) noexcept;

  // The site's window (its IOleInPlaceSite or IOleWindow), for owning message
  // boxes; nullptr when not sited or the site has none.
  HWND siteWindow() const;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return owner_->QueryInterface(riid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  // IObjectSafety: for IDispatch and the control's dispatch interface only.
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override;
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override;

  // IOleObject: the client site and the misc status; the control has no view,
  // data or verbs, so the rest gives the documented "not supported" answers.
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** out) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override { return S_OK; }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override;
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** out) override;
  STDMETHODIMP DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override { return E_NOTIMPL; }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) override;
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* out) override;
  STDMETHODIMP GetUserType(DWORD, LPOLESTR* out) override;
  STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IAdviseSink*, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD) override { return OLE_E_NOCONNECTION; }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

 private:
  // The address of the page the site shows; empty when it tells none.
  std::wstring pageAddress() const;
  // Whether the list as it is now allows the address; remembers an allowed one.
  bool checkPage(const std::wstring& address);

  IUnknown* owner_;
  ComPtr<IOleClientSite> site_;
  bool askedForSafety_ = false;  // for good: a host that asked once is a page's host
  DWORD granted_ = 0;
  std::wstring allowedAddress_;  // the page address last found allowed
};

}  // namespace qmx::com
