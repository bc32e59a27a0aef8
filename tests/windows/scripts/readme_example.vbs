' The README's example, as written there but for the address.
Set control = CreateObject("QMXProdActiveX.XMLLoad")
control.ServerBase = WScript.Arguments(0)
If control.Login("demo", "demo123") Then
  page = WScript.Arguments(0) & "data.asp"
  Set doc = control.XMLLoad(page, "customers.xml")
  WScript.Echo doc.selectNodes("//z:row").length & " customers"
End If
WScript.Echo "END-OF-SCRIPT"
