// The site lock: whether the page a control sits in may treat it as safe for
// untrusted script. An administrator lists the allowed pages in the value
// AllowedSites (REG_MULTI_SZ, one address per string or several separated by
// spaces, e.g. "https://erp.example.com/store/ http://intranet:8080") of
// HKEY_LOCAL_MACHINE\SOFTWARE\Velmora Solutions\QMXProdActiveX; nothing else
// is allowed, and no page at all when the value is missing.
#pragma once

#include <string>
#include <vector>

namespace qmx::com {

// The entries of AllowedSites as they are now, from the registry's 32-bit
// view like every other setting; none when the value is missing or no string list.
std::vector<std::wstring> allowedSites();

// Whether some entry of the current list allows the page address: the same
// scheme and host (case aside), the same port (a scheme's default one filled
// in) and the entry's path a prefix of the page's ending at a segment boundary
// ("/store" allows "/store" and "/store/a.htm", not "/storefront"). Both go
// through urlmon's own parser, so userinfo, dot segments and escapes read as a
// browser reads them; an address it cannot parse matches nothing.
bool pageAllowed(const std::wstring& page);

}  // namespace qmx::com
