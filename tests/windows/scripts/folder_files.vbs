' A page counting the files of SavedFiles and log with FileSystemObject sees
' only the files members mean to write there: no lock file, no temporary.
' cscript //nologo folder_files.vbs URL members|after ("after": a process
' holding both folders' locks was killed, and the next calls go through).
' Prints "ok ..." or "FAIL ..." per check, then the end marker.
Option Explicit
Dim url, phase, o, fso, saved, logs, before, started
url = WScript.Arguments(0)
phase = WScript.Arguments(1)
Set fso = CreateObject("Scripting.FileSystemObject")
Set saved = fso.GetFolder("C:\QMXData\12\SavedFiles")
Set logs = fso.GetFolder("C:\QMXData\12\log")
Const Order = "<xml xmlns:rs=""urn:schemas-microsoft-com:rowset"" xmlns:z=""#RowsetSchema""><rs:data Screen=""OrderEntry""><z:row iKey=""-3"" sItem=""NUT-8"" iQty=""50""/></rs:data></xml>"

Sub Check(ok, what)
  If ok Then
    WScript.Echo "ok " & what
  Else
    WScript.Echo "FAIL " & what
  End If
End Sub

' Both folders' files, hidden ones included: "SAVED LOG names-starting-with-a-dot".
Function Census()
  Dim f, dots
  For Each f In saved.Files
    If Left(f.Name, 1) = "." Then dots = dots & " " & f.Name
  Next
  For Each f In logs.Files
    If Left(f.Name, 1) = "." Then dots = dots & " " & f.Name
  Next
  Census = saved.Files.Count & " " & logs.Files.Count & dots
End Function

' The census after a member is the one before it, SavedFiles grown by added.
Sub Expect(added, what)
  Dim want, parts
  parts = Split(before, " ")
  want = (CInt(parts(0)) + added) & " " & parts(1)
  Check Census() = want, what & " (" & Census() & ", expected " & want & ")"
  before = Census()
End Sub

On Error Resume Next
Set o = CreateObject("QMXProdActiveX.XMLLoad")
o.ServerBase = url
o.Login "demo", "demo123"
If phase = "members" Then
  ' The first calls clear the lock files an earlier version left.
  o.getKey
  o.BackOnline
  Check InStr(Census(), ".") = 0, "no file with a dot name after getKey and BackOnline (" & Census() & ")"
  before = Census()
  o.Login "demo", "demo123"
  Expect 0, "Login"
  o.getKey
  Expect 0, "getKey"
  o.SaveLocal Order, "order-3.xml"
  Expect 1, "SaveLocal of a transaction adds it alone"
  o.SaveLocal Order, "order-3.xml"
  Expect 0, "SaveLocal over it"
  o.SaveLocal "<xsl:stylesheet version=""1.0"" xmlns:xsl=""http://www.w3.org/1999/XSL/Transform""/>", "style\more.xsl"
  Expect 0, "SaveLocal of a style sheet"
  o.XMLLoad url & "data.asp", "customers.xml"
  Expect 0, "XMLLoad"
  o.BackOnline
  Expect -1, "BackOnline uploads and removes the transaction alone"
  o.DeleteLocalData
  Expect 0, "DeleteLocalData"
  Check Err.Number = 0, "no member failed (" & Err.Number & " " & Err.Description & ")"
Else
  Check InStr(Census(), ".") = 0, "the killed holder left no file (" & Census() & ")"
  before = Census()
  started = Timer
  o.SaveLocal Order, "order-4.xml"
  o.getKey
  o.BackOnline
  Check Err.Number = 0 And Timer - started < 10, "getKey and BackOnline after the killed holder (" & Err.Number & " " & Err.Description & ", " & Round(Timer - started, 1) & " s)"
  Expect 0, "nor do the calls after it"
End If
Set o = Nothing
WScript.Echo "END-OF-SCRIPT"
