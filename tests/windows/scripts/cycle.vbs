' The control's cycle as a page script drives it, in two phases around a
' change on the server: cscript //nologo cycle.vbs URL first|second
' Prints "ok ..." or "FAIL ..." per check; the last line is the end marker,
' since cscript exits 0 even when a script error ends the script.
Option Explicit
Dim url, phase, o, page, doc, s, e, n, t
url = WScript.Arguments(0)
phase = WScript.Arguments(1)

Sub Check(ok, what)
  If ok Then
    WScript.Echo "ok " & what
  Else
    WScript.Echo "FAIL " & what
  End If
End Sub

Set o = CreateObject("QMXProdActiveX.XMLLoad")
Check o.Configured = "True", "one installation chosen at start-up (Configured " & o.Configured & ")"
Check o.CompanyID = "VELMORA-DEMO", "CompanyID from the installation"
Check o.DataPath = "C:\QMXData\12" And o.Location = 12, "DataPath and Location (" & o.DataPath & ")"
Check o.InvoicePreprint = True, "InvoicePreprint"
Check o.LevelNum = "0", "LevelNum before login"
Check TypeName(o.LevelNum) = "String", "LevelNum is text"
o.ServerBase = "  " & url
Check o.ServerBase = url, "ServerBase trimmed, ends in /"
Check o.Login("demo", "demo123") = True, "online login"
Check o.Authenticated And o.LevelNum = "5", "authenticated at level 5"
page = url & "data.asp"

If phase = "first" Then
  Check o.Login("demo", "wrong") = False, "wrong password refused"
  Check o.ErrorNumber = 1004, "ErrorNumber 1004 from the service (" & o.ErrorNumber & ")"
  o.Login "demo", "demo123"
  Set doc = o.XMLLoad(page, "customers.xml")
  Check Not doc Is Nothing, "first download returns a document"
  Check InStr(TypeName(doc), "DOMDocument") > 0, "an MSXML document (" & TypeName(doc) & ")"
  Check doc.selectNodes("//z:row").length = 12, "12 customer rows (" & doc.selectNodes("//z:row").length & ")"
  Check InStr(page, "Time=New") > 0, "the page address rewritten with the request made"
  Set doc = o.XMLLoad(url & "data.asp", "items.xml")
  Check doc.selectNodes("//z:row").length > 0, "items downloaded"

  ' Errors reach the script with the control's numbers.
  On Error Resume Next
  Err.Clear
  s = o.GetXSL("..\outside.xsl")
  Check Err.Number = 75 And Err.Source = "QMXProdActiveX.XMLLoad", "error 75 for a name leaving its folder (" & Err.Number & " " & Err.Description & ")"
  Err.Clear
  o.SaveLocal "<t/>", "C:\elsewhere.xml"
  Check Err.Number = 75, "SaveLocal refuses a drive letter (" & Err.Number & ")"
  Err.Clear
  o.NoSuchMember
  Check Err.Number = 438, "unknown member is 438 (" & Err.Number & ")"
  Err.Clear
  s = o.Login(, "demo123")
  Check Err.Number = 449, "a required argument left out is 449 (" & Err.Number & ")"
  Err.Clear
  o.LevelNum = "9"
  Check Err.Number = 383, "LevelNum is read-only: 383 (" & Err.Number & ")"
  Err.Clear
  s = o.getKey("x")
  Check Err.Number = 450, "an argument too many is 450 (" & Err.Number & ")"
  Err.Clear
  o.Authenticated = 7
  Check TypeName(o.Authenticated) = "Boolean" And o.Authenticated = True, "a Boolean property stays Boolean (" & TypeName(o.Authenticated) & ")"
  Err.Clear
  o.Location = "twelve"
  Check Err.Number = 13, "type mismatch is 13 (" & Err.Number & ")"
  Err.Clear
  Set doc = o.HTTPCall("", "http://127.0.0.1:1/nothing.asp?Pwd=secret")
  Check Err.Number = 0 And doc Is Nothing, "HTTPCall to nobody returns Nothing"
  Check o.ErrorNumber < 0 And InStr(o.ErrorDesc, "secret") = 0, "transport error negative, no query in ErrorDesc (" & o.ErrorNumber & " " & o.ErrorDesc & ")"
  On Error GoTo 0
Else
  ' The server changed row 3 since the first download: the refresh merges it.
  Set doc = o.XMLLoad(page, "customers.xml")
  Check doc.selectSingleNode("//z:row[@iKey='3']/@sName").text = "Cobalt Builders Ltd", "row 3 merged from the refresh"
  Check doc.selectNodes("//z:row").length = 12, "still 12 rows"

  o.SaveLocal "<xml xmlns:rs=""urn:schemas-microsoft-com:rowset"" xmlns:z=""#RowsetSchema""><rs:data Screen=""OrderEntry""><z:row iKey=""-1"" sItem=""BOLT-10"" iQty=""200""/></rs:data></xml>", "order-1.xml"
  o.SaveLocal "<xml xmlns:rs=""urn:schemas-microsoft-com:rowset"" xmlns:z=""#RowsetSchema""><rs:data Screen=""OrderEntry""><z:row iKey=""-2"" sItem=""PIPE-15"" iQty=""4""/></rs:data></xml>", "order-2.xml"
  o.SaveLocal "<xsl:stylesheet version=""1.0"" xmlns:xsl=""http://www.w3.org/1999/XSL/Transform""><xsl:template match=""/""><p>Orders</p></xsl:template></xsl:stylesheet>", "style\orders.xsl"
  Check Left(o.GetXSL("style\orders.xsl"), 16) = "<xsl:stylesheet ", "GetXSL reads the style sheet back"
  o.BackOnline
  Set t = CreateObject("Scripting.FileSystemObject")
  Check Not t.FileExists("C:\QMXData\12\SavedFiles\order-1.xml") And Not t.FileExists("C:\QMXData\12\SavedFiles\order-2.xml"), "BackOnline uploaded and removed both transactions"
  Check t.FileExists("C:\QMXData\12\SavedFiles\style\orders.xsl"), "the style sheet stays"

  ' The cipher rewrites its by-reference input; the same call unscrambles.
  s = "Meet at the harbour at nine"
  e = o.FileEncodeAndDecode(s, "k3y!")
  Check e <> s, "scrambled"
  Check o.FileEncodeAndDecode(e, "k3y!") = "Meet at the harbour at nine", "unscrambled"
  s = "x" & Chr(1) & Chr(11) & "y"
  e = o.FileEncodeAndDecode(s, "k")
  Check s = "x" & Chr(1) & "y", "escape pair in the by-reference argument resolved"

  Check o.SaveElectronicPurchaseOrder("123456789", "PO|123456789|Cobalt|BOLT-10|200") = True, "purchase order written"
  Check t.OpenTextFile("C:\QMX Client\Inbox\PO23456789.POD").ReadAll = "PO|123456789|Cobalt|BOLT-10|200", "order file in the inbox"

  o.DeleteLocalData
  Check Not t.FileExists("C:\QMXData\12\customers.xml") And Not t.FileExists("C:\QMXData\12\items.xml"), "DeleteLocalData removed the cached files"
  Check t.FolderExists("C:\QMXData\12\SavedFiles"), "SavedFiles stays"
End If
Set o = Nothing
WScript.Echo "END-OF-SCRIPT"
