' Issues keys as fast as it can, one a line: two of these at once must never
' print the same key. cscript //nologo keys.vbs COUNT
Dim o, i
Set o = CreateObject("QMXProdActiveX.XMLLoad")
For i = 1 To CInt(WScript.Arguments(0))
  WScript.Echo "key " & o.getKey()
Next
WScript.Echo "END-OF-SCRIPT"
