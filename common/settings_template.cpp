#include "settings_template.h"

namespace vx {
namespace {

const char* YesNo(bool yes) { return yes ? "Y" : "N"; }

void Line(std::string& text, const std::string& line) {
    text += line;
    text += "\r\n";
}

void PathSection(std::string& text, const char* header, const std::string& path) {
    Line(text, header);
    if (!path.empty()) Line(text, path);
}

}  // namespace

std::string MainSettingsText(const MainSettingsContent& c) {
    std::string text;
    Line(text, std::string("Print IUnknown methods ? [Y/N]: ") + YesNo(c.collectIUnknown));
    Line(text, std::string("Print IDispatch methods ? [Y/N]: ") + YesNo(c.collectIDispatch));
    Line(text, std::string("Exit with remaining hooks ? [Y/N]: ") + YesNo(c.exitWithRemainingHooks));
    Line(text, "[List of modules with components to investigate]");
    Line(text, "");
    for (const std::string& module : c.modules) Line(text, module);
    Line(text, "");
    PathSection(text, "[Path to Vexilo utility]", c.utilityPath);
    PathSection(text, "[Path to catalog with imported type libraries]", c.importedTypeLibFolder);
    PathSection(text, "[Path to file with TypeLibs structure]", c.structureFilePath);
    return text;
}

std::string AdvancedSettingsText(const AdvancedSettingsContent& c) {
    std::string text;
    Line(text, std::string("Print full diagnostic ? [Y/N]: ") + YesNo(c.fullTrace));
    Line(text, std::string("Print distilled diagnostic ? [Y/N]: ") + YesNo(c.distilledTrace));
    Line(text, std::string("Print BeyondVtbl methods ? [Y/N]: ") + YesNo(c.beyondVtblMethods));
    Line(text, std::string("Print SpecificInfo ? [Y/N]: ") + YesNo(c.specificInfo));
    Line(text, std::string("Find all supported interfaces ? [Y/N]: ") + YesNo(c.findAllInterfaces));
    Line(text, std::string("Hook all supported interfaces ? [Y/N]: ") + YesNo(c.hookAllInterfaces));
    Line(text, "FilePolicy ? [FILE_BACKUPlast(1) / FILE_BACKUPall(2) / FILE_OVERRIDE(3)]: " +
                   std::to_string(c.filePolicy));
    return text;
}

}  // namespace vx
