#include "com/variant_bridge.h"

#include <msxml2.h>

#include <cstring>

#include "com/com_module.h"

namespace qmx::com {
namespace {

// Frees a VARIANT on every way out.
struct ScopedVariant {
  VARIANT v;
  ScopedVariant() { ::VariantInit(&v); }
  ~ScopedVariant() { ::VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// mingw's uuid library lacks it.
constexpr IID kIidXmlDomDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// The document as an MSXML 6 document, loaded from its XML text.
ComPtr<IDispatch> msxmlDocumentOf(const XmlDocument& doc) {
  CLSID clsid;
  ComPtr<IXMLDOMDocument> msxml;
  if (FAILED(::CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &clsid)) ||
      FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, msxml.putVoid())))
    throw AutomationError(kObjectNotSet, "MSXML 6.0 is not available to hold the document");
  msxml->put_async(VARIANT_FALSE);
  BSTR text = toBstr(xmlText(*doc));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = text ? msxml->loadXML(text, &loaded) : E_OUTOFMEMORY;
  ::SysFreeString(text);
  // An empty document (a reply that was not XML) loads as an empty MSXML one.
  if (FAILED(hr) || (!loaded && doc->first_child()))
    throw AutomationError(kObjectNotSet, "MSXML 6.0 did not take the document");
  // MSXML 6 selects by XPath, where a prefix must be declared to the document
  // first: the root's own declarations are, so that pages written for MSXML 3
  // ("//z:row") keep working.
  std::string namespaces;
  for (const pugi::xml_attribute& a : doc->document_element().attributes()) {
    const std::string name = a.name();
    if (name.rfind("xmlns:", 0) != 0) continue;
    const std::string value = a.value();
    const char quote = value.find('\'') == std::string::npos ? '\'' : '"';
    namespaces += (namespaces.empty() ? "" : " ") + name + "=" + quote + value + quote;
  }
  ComPtr<IXMLDOMDocument2> msxml2;
  if (!namespaces.empty() && SUCCEEDED(msxml->QueryInterface(kIidXmlDomDocument2, msxml2.putVoid()))) {
    ScopedVariant v;
    V_VT(&v.v) = VT_BSTR;
    V_BSTR(&v.v) = toBstr(namespaces);
    // MSXML may read the name's length prefix: a real BSTR, not a literal.
    BSTR name = ::SysAllocString(L"SelectionNamespaces");
    if (name && V_BSTR(&v.v)) msxml2->setProperty(name, v.v);
    ::SysFreeString(name);
  }
  ComPtr<IDispatch> out;
  msxml->QueryInterface(IID_IDispatch, out.putVoid());
  return out;
}

}  // namespace

BSTR toBstr(std::string_view utf8) {
  const int n = utf8.empty() ? 0
                             : ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                     nullptr, 0);
  BSTR out = ::SysAllocStringLen(nullptr, static_cast<UINT>(n));
  if (out && n) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out, n);
  return out;
}

std::string fromBstr(BSTR text) {
  const UINT len = text ? ::SysStringLen(text) : 0;
  if (len == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(len), out.data(), n, nullptr, nullptr);
  return out;
}

Variant fromVariant(const VARIANT& in) {
  if (V_VT(&in) & VT_BYREF) {
    ScopedVariant plain;
    if (FAILED(::VariantCopyInd(&plain.v, const_cast<VARIANT*>(&in)))) throw AutomationError(kTypeMismatch);
    return fromVariant(plain.v);
  }
  switch (V_VT(&in)) {
    case VT_EMPTY: return EmptyValue{};
    case VT_NULL: return NullValue{};
    case VT_BOOL: return V_BOOL(&in) != VARIANT_FALSE;
    case VT_I2: return static_cast<std::int16_t>(V_I2(&in));
    case VT_I4: return static_cast<std::int32_t>(V_I4(&in));
    case VT_R8: return V_R8(&in);
    case VT_BSTR: return fromBstr(V_BSTR(&in));
    case VT_DISPATCH:
    case VT_UNKNOWN: return XmlDocument{};
    default: break;
  }
  if (V_VT(&in) & VT_ARRAY) throw AutomationError(kTypeMismatch);
  // Other numbers (bytes, currency, decimals, singles) as a Double, dates as their text.
  ScopedVariant converted;
  const VARTYPE to = V_VT(&in) == VT_DATE ? VT_BSTR : VT_R8;
  if (FAILED(::VariantChangeType(&converted.v, const_cast<VARIANT*>(&in), 0, to))) throw AutomationError(kTypeMismatch);
  return fromVariant(converted.v);
}

void toVariant(const Variant& value, VARIANT* out) {
  struct Visitor {
    VARIANT* out;
    void operator()(const EmptyValue&) const { V_VT(out) = VT_EMPTY; }
    void operator()(const NullValue&) const { V_VT(out) = VT_NULL; }
    void operator()(bool b) const {
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = b ? VARIANT_TRUE : VARIANT_FALSE;
    }
    void operator()(std::int16_t n) const {
      V_VT(out) = VT_I2;
      V_I2(out) = n;
    }
    void operator()(std::int32_t n) const {
      V_VT(out) = VT_I4;
      V_I4(out) = n;
    }
    void operator()(double d) const {
      V_VT(out) = VT_R8;
      V_R8(out) = d;
    }
    void operator()(const std::string& s) const {
      BSTR b = toBstr(s);
      if (!b) throw std::bad_alloc();
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = b;
    }
    void operator()(const XmlDocument& doc) const {
      // Made before the type is set: a failure leaves *out as it was, not a
      // dispatch pointer that a later VariantClear would release.
      IDispatch* made = doc ? msxmlDocumentOf(doc).detach() : nullptr;
      V_VT(out) = VT_DISPATCH;
      V_DISPATCH(out) = made;
    }
  };
  std::visit(Visitor{out}, value);
}

HRESULT writeThrough(const Variant& value, VARIANT& byRef) {
  if (!(V_VT(&byRef) & VT_BYREF)) return S_OK;  // passed by value: nothing to write
  const VARTYPE target = V_VT(&byRef) & ~VT_BYREF;
  ScopedVariant fresh;
  toVariant(value, &fresh.v);
  if (target == VT_VARIANT) {
    // The caller's variable holds a value of its own: given back before the new one goes in.
    VARIANT* slot = V_VARIANTREF(&byRef);
    ::VariantClear(slot);
    *slot = fresh.v;  // moved: the slot owns it now
    V_VT(&fresh.v) = VT_EMPTY;
    return S_OK;
  }
  ScopedVariant typed;
  const HRESULT hr = ::VariantChangeType(&typed.v, &fresh.v, 0, target);
  if (FAILED(hr)) return hr;
  switch (target) {
    case VT_BSTR:
      ::SysFreeString(*V_BSTRREF(&byRef));
      *V_BSTRREF(&byRef) = V_BSTR(&typed.v);
      V_VT(&typed.v) = VT_EMPTY;
      return S_OK;
    case VT_BOOL: *V_BOOLREF(&byRef) = V_BOOL(&typed.v); return S_OK;
    case VT_I2: *V_I2REF(&byRef) = V_I2(&typed.v); return S_OK;
    case VT_I4: *V_I4REF(&byRef) = V_I4(&typed.v); return S_OK;
    case VT_R8: *V_R8REF(&byRef) = V_R8(&typed.v); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

void fillException(const AutomationError& error, EXCEPINFO* info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  info->wCode = 0;  // a set wCode makes VBScript show Err.Number 0
  info->bstrSource = toBstr(kErrorSource);
  info->bstrDescription = toBstr(error.description());
  const std::int32_t n = error.number();
  info->scode = n < 0 ? static_cast<SCODE>(n) : static_cast<SCODE>(0x800A0000u | (static_cast<std::uint32_t>(n) & 0xFFFFu));
}

}  // namespace qmx::com
