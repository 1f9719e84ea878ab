// Late-bound use of VxSample.Calc from JScript: every line is deterministic.
var calc = new ActiveXObject("VxSample.Calc");
WScript.Echo("Add(2,3)=" + calc.Add(2, 3));
WScript.Echo("Concat(foo,bar)=" + calc.Concat("foo", "bar"));
WScript.Echo("Divide(7,2)=" + calc.Divide(7, 2));
WScript.Echo("Recurse(3)=" + calc.Recurse(3));
WScript.Echo("Name=" + calc.Name);
calc.Name = "FromScript";
WScript.Echo("Name=" + calc.Name);
var child = calc.CreateChild();
WScript.Echo("CreateChild.Name=" + child.Name);

try {
    calc.Divide(1, 0);
    WScript.Echo("Divide(1,0) error=none");
} catch (e) {
    // number is a signed 32-bit value; show it as the unsigned HRESULT.
    WScript.Echo("Divide(1,0) error=0x" + (e.number >>> 0).toString(16).toUpperCase());
}

child = null;
calc = null;
WScript.Echo("done");
