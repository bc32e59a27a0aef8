#include "com/xmlload_object.h"

#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "com/com_module.h"
#include "com/com_ptr.h"
#include "com/page_site.h"
#include "com/qmxprodax_idl.h"
#include "com/variant_bridge.h"
#include "control/dispatch.h"
#include "control/member_table.h"
#include "control/xmlload.h"
#include "platform/win/win_platform.h"

namespace qmx::com {
namespace {

// Refused while the object's message box is up: VB's "Can't perform requested
// operation", a runtime number like the control's others.
constexpr std::int32_t kCantPerformOperation = 17;

// One connection point: the sinks of one outgoing interface.
class ConnectionPoint final : public IConnectionPoint {
 public:
  ConnectionPoint(IConnectionPointContainer* owner, REFIID iid) : owner_(owner), iid_(iid) {}

  // The container owns the points; their references are the container's.
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
      *out = static_cast<IConnectionPoint*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }

  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override {
    if (!out) return E_POINTER;
    *out = owner_;
    owner_->AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (::GetCurrentThreadId() != thread_) return RPC_E_WRONG_THREAD;
    if (!sink || !cookie) return E_POINTER;
    ComPtr<IUnknown> typed;
    if (FAILED(sink->QueryInterface(iid_, typed.putVoid()))) return CONNECT_E_CANNOTCONNECT;
    // Cookies are slot numbers + 1; a freed slot is reused.
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
      if (!sinks_[i]) {
        sinks_[i] = std::move(typed);
        *cookie = static_cast<DWORD>(i + 1);
        return S_OK;
      }
    }
    try {
      sinks_.push_back(std::move(typed));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    *cookie = static_cast<DWORD>(sinks_.size());
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    if (::GetCurrentThreadId() != thread_) return RPC_E_WRONG_THREAD;
    if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
    // The slot is free before the sink hears its last Release.
    const ComPtr<IUnknown> sink = std::move(sinks_[cookie - 1]);
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  // Tells every sink that the property changed. A sink may unadvise itself or
  // another while being told, so each is held across its call.
  void propertyChanged(DISPID dispid) {
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
      const ComPtr<IUnknown> sink = sinks_[i];
      if (sink) static_cast<IPropertyNotifySink*>(sink.get())->OnChanged(dispid);
    }
  }

 private:
  IConnectionPointContainer* owner_;
  IID iid_;
  const DWORD thread_ = ::GetCurrentThreadId();  // the owner's apartment
  std::vector<ComPtr<IUnknown>> sinks_;
};

class PointEnumerator final : public IEnumConnectionPoints {
 public:
  PointEnumerator(std::vector<ComPtr<IConnectionPoint>> points, std::size_t at = 0)
      : points_(std::move(points)), at_(at) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumConnectionPoints) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  STDMETHODIMP Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    ULONG n = 0;
    while (n < count && at_ < points_.size()) {
      out[n++] = ComPtr<IConnectionPoint>(points_[at_++]).detach();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    at_ += count;
    return at_ <= points_.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    at_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
      *out = new PointEnumerator(points_, at_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  std::vector<ComPtr<IConnectionPoint>> points_;
  std::size_t at_;
};

class XMLLoadObject final : public IDispatch, public IProvideClassInfo2, public IConnectionPointContainer {
 public:
  explicit XMLLoadObject(WinPlatform::MessageHandler onMessage)
      : platform_(std::move(onMessage)), propertySinks_(this, IID_IPropertyNotifySink),
        eventSinks_(this, DIID___XMLLoad), page_(static_cast<IDispatch*>(this)) {
    platform_.setOwnerWindow([this] { return siteWindow(); });
    ++liveObjects;
  }
  ~XMLLoadObject() { --liveObjects; }

  // Runs the start-up; its notifications go nowhere yet, since no host can have
  // connected before creation ends.
  void start() {
    control_ = std::make_unique<XMLLoad>(platform_, [this](const std::string& name) {
      if (const MemberInfo* m = findMember(name)) propertySinks_.propertyChanged(m->dispid);
    });
  }
  const XMLLoad& control() const { return *control_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__XMLLoad) {
      *out = static_cast<IDispatch*>(this);
    } else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2) {
      *out = static_cast<IProvideClassInfo2*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
      *out = static_cast<IConnectionPointContainer*>(this);
    } else if (void* part = page_.interfaceFor(riid)) {
      *out = part;
    } else {
      // No IObjectWithSite: script engines refuse to create objects that offer it
      // (page_site.h tells how a page is learned instead).
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *out = typeInfoOf(DIID__XMLLoad).detach();
    return *out ? S_OK : TYPE_E_CANTLOADLIBRARY;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return S_OK;
    const MemberInfo* m = findMember(fromBstrLike(names[0]));
    if (!m) return DISP_E_UNKNOWNNAME;
    ids[0] = m->dispid;
    // Named arguments: their position in the member's list.
    for (UINT i = 1; i < count; ++i) {
      const std::string arg = fromBstrLike(names[i]);
      hr = DISP_E_UNKNOWNNAME;
      for (std::size_t k = 0; k < m->arguments.size(); ++k) {
        if (equalsIgnoreCaseAscii(m->arguments[k].name, arg)) {
          ids[i] = static_cast<DISPID>(k);
          hr = S_OK;
        }
      }
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = typeInfoOf(CLSID_XMLLoad).detach();
    return *out ? S_OK : TYPE_E_CANTLOADLIBRARY;
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* out) override {
    if (!out) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *out = DIID___XMLLoad;
    return S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
      *out = new PointEnumerator(
          {ComPtr<IConnectionPoint>(&propertySinks_), ComPtr<IConnectionPoint>(&eventSinks_)});
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = riid == IID_IPropertyNotifySink ? &propertySinks_ : riid == DIID___XMLLoad ? &eventSinks_ : nullptr;
    if (!*out) return CONNECT_E_NOCONNECTION;
    (*out)->AddRef();
    return S_OK;
  }

 private:
  static std::string fromBstrLike(const OLECHAR* text) {
    std::wstring_view w = text ? std::wstring_view(text) : std::wstring_view();
    BSTR b = ::SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    std::string out = fromBstr(b);
    ::SysFreeString(b);
    return out;
  }
  static bool equalsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
      if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
  }

  // The window of the page or form that holds the control owns its message
  // boxes; without a site they are task-modal.
  HWND siteWindow() const { return page_.siteWindow(); }

  // The object lives in the apartment of the thread that made it; a raw pointer
  // used from another thread must not touch its state.
  const DWORD apartmentThread_ = ::GetCurrentThreadId();
  std::atomic<ULONG> refs_{1};
  WinPlatform platform_;
  ConnectionPoint propertySinks_;
  ConnectionPoint eventSinks_;  // __XMLLoad declares no events: accepted, never called
  PageSite page_;
  std::unique_ptr<XMLLoad> control_;
};

// A method call's arguments in the member's order, with the VARIANTs they came
// from for writing back. Positional ones come last-first after the named ones,
// which name their position. A left-out argument ("not found") or one a named
// call skips raises 449 where it is required; left-out optional ones at the end
// stay absent, one in the middle reads as Empty. Too few positional arguments
// are the dispatch layer's 450.
struct PlacedArguments {
  std::vector<Variant> values;
  std::vector<VARIANT*> sources;
};

HRESULT placeArguments(const MemberInfo& m, const DISPPARAMS& params, PlacedArguments& out, UINT* argError) {
  const UINT count = params.cArgs;
  const UINT named = params.cNamedArgs;
  if (named > count || (named && !params.rgdispidNamedArgs) || (count && !params.rgvarg)) return E_INVALIDARG;
  enum class Slot { Absent, LeftOut, Given };
  const std::size_t slots = std::max<std::size_t>(count - named, m.arguments.size());
  std::vector<Slot> state(slots, Slot::Absent);
  out.values.assign(slots, EmptyValue{});
  out.sources.assign(slots, nullptr);
  // Positional ones first, so that a named argument meeting a given position is the one refused.
  for (UINT i = count; i-- > 0;) {
    const DISPID position = i < named ? params.rgdispidNamedArgs[i] : static_cast<DISPID>(count - 1 - i);
    // A position taken twice is a malformed call, reported the way a named
    // argument the member does not have is: DISP_E_PARAMNOTFOUND with its index.
    const auto at = static_cast<std::size_t>(position);
    if (position < 0 || at >= slots || state[at] != Slot::Absent) {
      if (argError) *argError = i;
      return DISP_E_PARAMNOTFOUND;
    }
    VARIANT& v = params.rgvarg[i];
    if (V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND) {
      state[at] = Slot::LeftOut;
      continue;
    }
    try {
      out.values[at] = fromVariant(v);
    } catch (const AutomationError&) {
      if (argError) *argError = i;
      return DISP_E_TYPEMISMATCH;
    }
    out.sources[at] = &v;
    state[at] = Slot::Given;
  }
  for (std::size_t k = 0; k < m.arguments.size(); ++k) {
    if (!m.arguments[k].optional && (state[k] == Slot::LeftOut || (state[k] == Slot::Absent && named))) {
      throw AutomationError(kArgumentNotOptional, "Argument not optional: '" + std::string(m.arguments[k].name) +
                                                      "' of '" + std::string(m.name) + "'");
    }
  }
  while (!state.empty() && state.back() != Slot::Given) {
    state.pop_back();
    out.values.pop_back();
    out.sources.pop_back();
  }
  return S_OK;
}

STDMETHODIMP XMLLoadObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argError) {
  // The caller's memory, not yet a value: made empty, never cleared.
  if (result) ::VariantInit(result);
  if (::GetCurrentThreadId() != apartmentThread_) return RPC_E_WRONG_THREAD;
  if (!page_.scriptingAllowed()) return PageSite::refuse(exception);
  static DISPPARAMS kNoParams{nullptr, nullptr, 0, 0};
  if (!params) params = &kNoParams;
  const MemberInfo* m = findMemberById(id);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  try {
    const bool write = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    // A call from the message loop of the control's own message box would run
    // inside the member that shows it; reads stay open for property-change sinks.
    if ((write || m->kind == MemberKind::Method) && platform_.showingMessage()) {
      throw AutomationError(kCantPerformOperation, "Can't perform requested operation: '" + std::string(m->name) +
                                                       "' while the control's message box is open");
    }
    if (write) {
      if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_BADPARAMCOUNT;
      writeProperty(*control_, m->name, fromVariant(params->rgvarg[0]));
      return S_OK;
    }
    PlacedArguments placed;
    if (const HRESULT hr = placeArguments(*m, *params, placed, argError); FAILED(hr)) return hr;
    std::vector<Variant>& args = placed.values;
    const std::vector<Variant> before = args;
    std::exception_ptr failure;
    Variant value;
    try {
      value = invokeMember(*control_, m->name, args);
    } catch (...) {
      failure = std::current_exception();
    }
    // A by-reference argument the member rewrote is written back, also when the
    // member then failed (the rewrite had happened by then).
    for (std::size_t k = 0; k < args.size(); ++k) {
      if (placed.sources[k] && !(args[k] == before[k])) writeThrough(args[k], *placed.sources[k]);
    }
    if (failure) std::rethrow_exception(failure);
    if (result) toVariant(value, result);
    return S_OK;
  } catch (const AutomationError& e) {
    fillException(e, exception);
    return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    fillException(AutomationError(51, std::string("Internal error: ") + e.what()), exception);
    return DISP_E_EXCEPTION;
  }
}

}  // namespace

HRESULT createXMLLoadObject(REFIID riid, void** out, WinPlatform::MessageHandler onMessage) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const auto object = ComPtr<XMLLoadObject>::attach(new (std::nothrow) XMLLoadObject(std::move(onMessage)));
  if (!object) return E_OUTOFMEMORY;
  try {
    object->start();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    // Nothing may cross the COM boundary; the object is given back on the way out.
    return E_UNEXPECTED;
  }
  if (const auto& error = object->control().startupError()) {
    // A control whose start-up failed is not handed out half made: the host
    // learns the error and the installation gets fixed.
    EXCEPINFO info;
    fillException(*error, &info);
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> errorInfo;
    if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
      create->SetSource(info.bstrSource);
      create->SetDescription(info.bstrDescription);
      create->SetGUID(DIID__XMLLoad);
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, errorInfo.putVoid()))) ::SetErrorInfo(0, errorInfo.get());
    }
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrDescription);
    return info.scode;
  }
  return object->QueryInterface(riid, out);
}

}  // namespace qmx::com
