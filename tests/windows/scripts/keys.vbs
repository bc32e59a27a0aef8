' Issues keys as fast as it can, one a line ("key K", or "getKey N failed:
' error NUMBER DESCRIPTION"): two of these at once must never print the same key
' nor fail. cscript //nologo keys.vbs COUNT
Dim o, i, k
On Error Resume Next
Set o = CreateObject("QMXProdActiveX.XMLLoad")
If Err.Number <> 0 Then WScript.Echo "CreateObject failed: error " & Err.Number & " " & Err.Description
For i = 1 To CInt(WScript.Arguments(0))
  Err.Clear
  k = o.getKey()
  If Err.Number <> 0 Then
    WScript.Echo "getKey " & i & " failed: error " & Err.Number & " " & Err.Description
  Else
    WScript.Echo "key " & k
  End If
Next
WScript.Echo "END-OF-SCRIPT"
