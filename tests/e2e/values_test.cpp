// Whole ENTER and EXIT records of the client's "values" scenario, one family
// of values after another: each expected text is written out from the record
// rules, with only the caller's pointer values (which vary per run) masked.
#include "e2e.h"

using namespace e2e;

namespace {

const std::string T = "               ";       // a parameter line's indentation
const std::string I21 = std::string(21, ' ');  // a value's own lines
const std::string I24 = std::string(24, ' ');  // its members and elements
const std::string kTypes = "Class: VxSample Calc Class (instance# 1)\r\nInterface: ITypes (custom)\r\n";
const std::string kRaw = "Class: VxSample Calc Class (instance# 1)\r\nInterface: IRaw (custom)\r\n";
const std::string kDisp = "Class: VxSample DispOnly Class (instance# 1)\r\nInterface: DDispOnly (disp)\r\n";
const std::string kDone = T + "HRESULT = 0 (0h)\r\n";
const std::string kNoPointer = T + "HRESULT = -2147467261 (80004003h)\r\n";  // E_POINTER

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

using Records = std::vector<std::string>;

std::string AddDaysEnter(const std::string& start, const std::string& days) {
    return kTypes + "Method: VT_HRESULT AddDays (\r\n" + T + "[in]  start" + start + "  (VT_DATE),\r\n" + T +
           "[in]  days=" + days + "  (VT_I4),\r\n" + T + "[out,retval]  later  (VT_POINTER VT_DATE) );\r\n";
}

std::string AddDaysExit(const std::string& later) {
    return T + "[out,retval]  later  ptr=#h  *ptr" + later + "  (VT_POINTER VT_DATE)\r\n" + kDone;
}

// The date texts' rules are the format unit tests' matter: here a date by
// value, over a leap day and back a year, and the one through the pointer.
void DatesOnLeapDaysAndRoundTheClock(CallChecker& calls, const Records&) {
    calls.Expect(AddDaysEnter("=\"2/29/24 12:11:15 PM\"", "1 (1h)"), AddDaysExit("=\"3/1/24 12:11:15 PM\""));
    calls.Expect(AddDaysEnter("=\"3/1/24 12:0:0 PM\"", "-366 (fffffe92h)"), AddDaysExit("=\"3/1/23 12:0:0 PM\""));
    calls.Expect(AddDaysEnter("=0", "0 (0h)"), AddDaysExit("=0"));
}

// BSTRs are cut after 60 characters, wide strings after 59 once they reach
// 59; line breaks become 0x01 and 0x02 so that the record keeps its lines.
// NULL and the texts' other rules are the format unit tests' matter: here
// strings in, through the caller's pointer and back.
void StringsAtTheirCutsAndWithLineBreaks(CallChecker& calls, const Records&) {
    const std::string digits60 = Repeat("0123456789", 6);
    const std::string letters60 = Repeat("abcdefghij", 6);
    const std::string reversed60 = "k" + Repeat("jihgfedcba", 5) + "jihgfedcb";
    auto enter = [&](const std::string& a, const std::string& b) {
        return kTypes + "Method: VT_HRESULT Strings (\r\n" + T + "[in]  a" + a + "  (VT_BSTR),\r\n" + T +
               "[in,out]  b  ptr=#h  *ptr" + b + "  (VT_POINTER VT_BSTR),\r\n" + T +
               "[out,retval]  joined  (VT_POINTER VT_BSTR) );\r\n";
    };
    auto exit = [&](const std::string& b, const std::string& joined) {
        return T + "[in,out]  b  ptr=#h  *ptr" + b + "  (VT_POINTER VT_BSTR)\r\n" + T +
               "[out,retval]  joined  ptr=#h  *ptr" + joined + "  (VT_POINTER VT_BSTR)\r\n" + kDone;
    };
    // 60 characters whole, 61 cut; the joined 122 cut.
    calls.Expect(enter("=\"" + digits60 + "\"", "=\"" + letters60 + ".....\""),
                  exit("=\"" + reversed60 + ".....\"", "=\"" + digits60 + ".....\""));
    calls.Expect(enter("=\"one\x01\x02two\"", "=\"x\x02y\""), exit("=\"y\x02x\"", "=\"one\x01\x02two|x\x02y\""));

    const std::string upper = Repeat("ABCDEFGHIJKLMNOPQRSTUVWXYZ", 2);
    calls.Expect(kTypes + "Method: VT_HRESULT WideLength (\r\n" + T + "[in]  text=\"" + upper +
                      "abcdefg.....\"  (VT_LPWSTR),\r\n" + T + "[out,retval]  length  (VT_POINTER VT_I4) );\r\n",
                  T + "[out,retval]  length  ptr=#h  *ptr=59 (3bh)  (VT_POINTER VT_I4)\r\n" + kDone);
}

// The first stored bound (the last dimension given at creation) is the outer
// loop; elements follow in memory order. Failing calls leave every out-value
// undefined and read none of them.
void TwoDimensionalSafeArraysAndFailingCalls(CallChecker& calls, const Records&) {
    calls.Expect(kTypes + "Method: VT_HRESULT SumLongs (\r\n" + T + "[in]  numbers\r\n" + I21 +
                      "{ elements  (VT_I4)\r\n" + I24 + "[1,0]=101 (65h)\r\n" + I24 + "[1,1]=111 (6fh)\r\n" + I24 +
                      "[2,0]=102 (66h)\r\n" + I24 + "[2,1]=112 (70h)\r\n" + I24 + "[3,0]=103 (67h)\r\n" + I24 +
                      "[3,1]=113 (71h)\r\n" + I21 + "}  (VT_SAFEARRAY),\r\n" + T +
                      "[out,retval]  total  (VT_POINTER VT_I4) );\r\n",
                  T + "[out,retval]  total=[undefined]  (VT_POINTER VT_I4)\r\n" + T +
                      "HRESULT = -2147024809 (80070057h)\r\n");
    calls.Expect(kTypes + "Method: VT_HRESULT Variants (\r\n" + T + "[in]  v=7 (7h) (VT_I4)  (VT_VARIANT),\r\n" + T +
                      "[in,out]  io  ptr=#h\r\n" + I21 + "{ elements  (VT_BSTR)\r\n" + I24 + "[-1,0]=\"a\"\r\n" + I24 +
                      "[-1,1]=\"b\"\r\n" + I24 + "[0,0]=\"c\"\r\n" + I24 + "[0,1]=\"d\"\r\n" + I21 +
                      "} (VT_ARRAY VT_BSTR)  (VT_POINTER VT_VARIANT),\r\n" + T +
                      "[out,retval]  described  (VT_POINTER VT_VARIANT) );\r\n",
                  T + "[in,out]  io=[undefined]  (VT_POINTER VT_VARIANT)\r\n" + T +
                      "[out,retval]  described=[undefined]  (VT_POINTER VT_VARIANT)\r\n" + T +
                      "HRESULT = -2147352571 (80020005h)\r\n");
}

void NullAtEachPointerLevel(CallChecker& calls, const Records&) {
    auto indirect = [&](const std::string& pointer) {
        calls.Expect(kTypes + "Method: VT_HRESULT Indirect (\r\n" + T + "[in]  pointer" + pointer +
                          "  (VT_POINTER* VT_I4),\r\n" + T + "[out,retval]  doubled  (VT_POINTER VT_I4) );\r\n",
                      T + "[out,retval]  doubled=[undefined]  (VT_POINTER VT_I4)\r\n" + kNoPointer);
    };
    indirect("=NULL");
    indirect("  ptr=#h  *ptr=NULL");
    // A record type names itself, starred by its pointer level.
    calls.Expect(kTypes + "Method: VT_HRESULT MovePoint (\r\n" + T + "[in]  dx=1 (1h)  (VT_I4),\r\n" + T +
                      "[in]  dy=2 (2h)  (VT_I4),\r\n" + T +
                      "[in,out]  pt=NULL  <VxPoint*>  (VT_POINTER VT_USERDEFINED) );\r\n",
                  T + "[in,out]  pt=[undefined]  (VT_POINTER VT_USERDEFINED)\r\n" + kNoPointer);
}

// A VT_I1 line break shown as strings show it, a letter as it is (the other
// bytes are the format unit tests' matter).
void SignedBytesShowControlCharactersSafely(CallChecker& calls, const Records&) {
    const struct {
        const char* a;
        const char* b;
        const char* negated;
        const char* inverted;
    } kBytes[] = {
        {"13 (dh='\x01')", "13 (dh)", "-13 (fffffff3h='\xf3')", "242 (f2h)"},
        {"65 (41h='A')", "65 (41h)", "-65 (ffffffbfh='\xbf')", "190 (beh)"},
    };
    for (const auto& b : kBytes)
        calls.Expect(kTypes + "Method: VT_HRESULT Int8 (\r\n" + T + "[in]  a=" + b.a + "  (VT_I1),\r\n" + T +
                          "[in]  b=" + b.b + "  (VT_UI1),\r\n" + T + "[out]  negated  (VT_POINTER VT_I1),\r\n" + T +
                          "[out,retval]  inverted  (VT_POINTER VT_UI1) );\r\n",
                      T + "[out]  negated  ptr=#h  *ptr=" + b.negated + "  (VT_POINTER VT_I1)\r\n" + T +
                          "[out,retval]  inverted  ptr=#h  *ptr=" + b.inverted + "  (VT_POINTER VT_UI1)\r\n" + kDone);
}

// AddRef and Release show their own return type and the new count; a method
// without a result shows no [out,retval], neither at entry nor at exit.
void ReferenceCountsAndMethodsWithoutResult(CallChecker& calls, const Records&) {
    calls.Expect(kTypes + "Method: VT_UI4 AddRef ( );\r\n", T + "Return value = 3 (3h)  (VT_UI4)\r\n");
    calls.Expect(kTypes + "Method: VT_UI4 Release ( );\r\n", T + "Return value = 2 (2h)  (VT_UI4)\r\n");
    // The accumulator holds no result after a void method: only the line is checked.
    const std::string result = T + "HRESULT = ";
    for (const std::string& enter : {kRaw + "Method: VT_HRESULT Remember (\r\n" + T + "[in]  number=7 (7h)  (VT_I4) );\r\n",
                                     kRaw + "Method: VT_HRESULT Forget ( );\r\n"}) {
        std::string exit = calls.Enter(enter);
        EXPECT_EQ(exit.compare(0, result.size(), result), 0) << exit;
        EXPECT_EQ(exit.find("\r\n"), exit.size() - 2) << "one line only: " << exit;
    }
}

// IBare's table does not begin with IUnknown's methods: its descriptor line
// says so (B 999999), so it is named but never patched.
void InterfaceNotDerivedFromIUnknownIsNamedButNeverHooked(CallChecker& calls, const Records& records) {
    const std::string exit = calls.Enter(
        "Class: VxSample Calc Class (instance# 1)\r\nInterface: ICalc (dual)\r\nMethod: VT_HRESULT QueryInterface (\r\n" +
            T + "[in]  riid  ptr=#h  *ptr = {IBare}  (VT_POINTER VT_USERDEFINED),\r\n",
        true);
    EXPECT_NE(exit.find(T + "HRESULT = 0 (0h)\r\n"), std::string::npos) << exit;
    std::string destroy;
    for (const std::string& r : records) {
        EXPECT_EQ(r.find("Interface: IBare"), std::string::npos) << "its table was patched: " << r;
        if (RecordKind(r) == "DESTROY" && r.find("Calc Class") != std::string::npos) destroy = r;
    }
    EXPECT_NE(destroy.find("\r\n          IRaw\r\n          IBare\r\n"), std::string::npos) << destroy;
}

// A dispatch-only interface: only IDispatch's methods have slots; the name
// asked for is shown instead of the pointer to it.
void DispatchOnlyInterface(CallChecker& calls, const Records&) {
    calls.Expect(kDisp + "Method: VT_HRESULT GetIDsOfNames (\r\n" + T +
                      "[in]  riid  ptr=#h  *ptr = {IID_NULL}  (VT_POINTER VT_USERDEFINED),\r\n" + T +
                      "[in]  rgszNames = \"Triple\"  (VT_POINTER* VT_I1),\r\n" + T + "[in]  cNames=1 (1h)  (VT_UINT),\r\n" +
                      T + "[in]  lcid=1024 (400h)  (VT_UI4),\r\n" + T + "[out]  rgdispid  (VT_POINTER VT_I4) );\r\n",
                  T + "[out]  rgdispid  ptr=#h  *ptr=2 (2h)  (VT_POINTER VT_I4)\r\n" + kDone);
    calls.Expect(kDisp + "Method: VT_HRESULT Invoke (\r\n" + T + "[in]  dispidMember=2 (2h)  (VT_I4),\r\n" + T +
                      "[in]  riid  ptr=#h  *ptr = {IID_NULL}  (VT_POINTER VT_USERDEFINED),\r\n" + T +
                      "[in]  lcid=1024 (400h)  (VT_UI4),\r\n" + T + "[in]  wFlags=1 (1h)  (VT_UI2),\r\n",
                  T + "[out]  pvarResult  ptr=#h  *ptr=15 (fh) (VT_I4)  (VT_POINTER VT_VARIANT)\r\n" + T +
                      "[out]  pexcepinfo=NULL  <EXCEPINFO*>  (VT_POINTER VT_USERDEFINED)\r\n" + T +
                      "[out]  puArgErr=NULL  (VT_POINTER VT_UINT)\r\n" + kDone,
                  true);
}

}  // namespace

class ValuesTest : public TraceTest {};

// One run of the client's values scenario, checked family by family.
TEST_F(ValuesTest, EveryFamilyOfValuesAsTheRecordsShowThem) {
    ProcessResult run = RunProgram(ClientCommand("values"));
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const Records records = SplitRecords(Distilled());
    ASSERT_EQ(CheckCallPairing(records), "");
    // A failure shows the call it looked for, which tells the family.
    for (auto check : {DatesOnLeapDaysAndRoundTheClock, StringsAtTheirCutsAndWithLineBreaks,
                       TwoDimensionalSafeArraysAndFailingCalls, NullAtEachPointerLevel,
                       SignedBytesShowControlCharactersSafely, ReferenceCountsAndMethodsWithoutResult,
                       InterfaceNotDerivedFromIUnknownIsNamedButNeverHooked, DispatchOnlyInterface}) {
        CallChecker calls(Calls(records));
        check(calls, records);
    }
}
