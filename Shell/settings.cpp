#include "settings.h"

#include "answers.h"
#include "modulelist.h"

namespace shell {
namespace {

constexpr char kIUnknownQuestion[] = "Print IUnknown methods ? [Y/N]:";
constexpr char kIDispatchQuestion[] = "Print IDispatch methods ? [Y/N]:";
constexpr char kExitQuestion[] = "Exit with remaining hooks ? [Y/N]:";

}  // namespace

void Settings::InitFromText(const std::string& text) {
    // Read as the kernel reads them: it leaves out the calls only on an N.
    CollectIUnknown = vx::ReadYesNo(text, kIUnknownQuestion, 'N') != vx::YesNo::On;
    CollectIDispatch = vx::ReadYesNo(text, kIDispatchQuestion, 'N') != vx::YesNo::On;
    ExitWithLeftHooks = vx::ReadYesNo(text, kExitQuestion, 'Y') == vx::YesNo::On;
}

bool Settings::Init() {
    std::string text, error;
    if (!vx::ReadTextFile(ZorTxtFile, &text, &error)) return false;
    InitFromText(text);
    return true;
}

}  // namespace shell
