' Late-bound use of VxSample.Calc from VBScript: every line is deterministic.
Option Explicit

Dim calc, child, quotient
Set calc = CreateObject("VxSample.Calc")
WScript.Echo "Add(2,3)=" & calc.Add(2, 3)
WScript.Echo "Concat(foo,bar)=" & calc.Concat("foo", "bar")
WScript.Echo "Divide(7,2)=" & calc.Divide(7, 2)
WScript.Echo "Recurse(3)=" & calc.Recurse(3)
WScript.Echo "Name=" & calc.Name
calc.Name = "FromScript"
WScript.Echo "Name=" & calc.Name
Set child = calc.CreateChild()
WScript.Echo "CreateChild.Name=" & child.Name

On Error Resume Next
quotient = calc.Divide(1, 0)
WScript.Echo "Divide(1,0) error=0x" & Hex(Err.Number)
Err.Clear
On Error GoTo 0

Set child = Nothing
Set calc = Nothing
WScript.Echo "done"
