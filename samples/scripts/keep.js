// Late-bound use of VxSample.Calc that keeps its object to the script's end,
// as script hosts do: the object is released, if at all, only as the host exits.
var calc = new ActiveXObject("VxSample.Calc");
WScript.Echo("Add(2,3)=" + calc.Add(2, 3));
