// The same control from JScript: creation, login, a data set, errors as
// exceptions. cscript //nologo cycle.js URL
var url = WScript.Arguments(0);
function check(ok, what) { WScript.Echo((ok ? "ok " : "FAIL ") + what); }

var o = new ActiveXObject("QMXProdActiveX.XMLLoad");
check(o.Configured == "True" && o.CompanyID == "VELMORA-DEMO", "start-up chose the installation");
o.ServerBase = url;
check(o.Login("demo", "demo123") === true, "online login returns a Boolean true");
var doc = o.XMLLoad(url + "data.asp", "items.xml", "");
check(doc !== null && doc.selectNodes("//z:row").length > 0, "items.xml loaded (" + (doc && doc.xml.length) + " characters)");
check(o.Location === 12 && typeof o.Location == "number", "Location is a number");
try {
  o.GetXSL("C:\\outside.xsl");
  check(false, "no exception for a drive letter");
} catch (e) {
  check((e.number & 0xFFFF) == 75 && (e.number >>> 16) == 0x800A, "exception number 0x800A004B (" + e.number + ": " + e.description + ")");
}
var k = o.getKey();
check(/^7-12-\d+$/.test(k), "a temporary key " + k);
var s = o.FileEncodeAndDecode("abc", "key");
check(o.FileEncodeAndDecode(s, "key") == "abc", "cipher round trip");
WScript.Echo("END-OF-SCRIPT");
