// The scanner program's pure parts: the settings file completed at
// installation, and the stage pictures and bar moved by progress events.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "installsettings.h"
#include "progress.h"

using polluxtest::StageImage;

// The completed file, each path after its header and the rest kept, is
// compared whole by the scanner program's end-to-end test, and a file without
// the headers is refused there: here the headers met out of order.
TEST(InstallSettingsTest, AMisplacedHeaderIsRefused) {
    std::string out;
    EXPECT_FALSE(polluxtest::InsertInstallPaths("[Path to Vexilo utility]\r\n[Path to file with TypeLibs structure]\r\n",
                                                "D:\\v", &out));
    // The structure file's header before the catalog's: the catalog's is missing.
    EXPECT_FALSE(polluxtest::InsertInstallPaths(
        "[Path to Vexilo utility]\r\n[Path to file with TypeLibs structure]\r\n"
        "[Path to catalog with imported type libraries]\r\n",
        "D:\\v", &out));
}

// Runs each step, then compares what the window shows: the pictures of the
// type libraries, interfaces and classes (N not yet, I in progress, D done),
// then the bar's value and maximum.
void ExpectShown(const polluxtest::ScanProgress& p, const std::vector<std::pair<std::function<void()>, std::string>>& steps) {
    const auto image = [](StageImage s) { return s == StageImage::NotYet ? 'N' : s == StageImage::InProgress ? 'I' : 'D'; };
    for (size_t i = 0; i < steps.size(); ++i) {
        steps[i].first();
        const polluxtest::Display& d = p.display();
        const std::string shown = std::string{image(d.tLibs), image(d.interfaces), image(d.classes)} + " " +
                                  std::to_string(d.value) + "/" + std::to_string(d.maximum);
        EXPECT_EQ(shown, steps[i].second) << "after step " << i;
    }
}

TEST(ScanProgressTest, StagesMoveInOrderAndTheBarStopsAtItsMaximum) {
    polluxtest::ScanProgress p({/*compClasses*/ 300, /*tLibs*/ 40, /*importedTLibs*/ 2, /*interfaces*/ 120});
    ExpectShown(p, {{[] {}, "NNN 0/0"},
                    {[&] { p.BeginTypeLibraries(); }, "INN 0/42"},
                    {[&] { p.ProcessedTLibs(35); }, "INN 35/42"},
                    {[&] { p.ProcessedTLibs(99); }, "INN 42/42"},  // an amount above the maximum sets the maximum
                    {[&] { p.ProcessedTLibs(40); p.ProcessedImportedTLibs(1); }, "INN 41/42"},  // imported counts add
                    {[&] { p.ProcessedImportedTLibs(2); }, "DIN 0/120"},  // the total: the interface stage begins
                    {[&] { p.ProcessedImportedTLibs(2); }, "DIN 0/120"},  // ignored once the stage is done
                    {[&] { p.ProcessedInterfaces(50); }, "DIN 50/120"},
                    {[&] { p.EndTypeLibraries(); }, "DDN 50/120"},
                    {[&] { p.BeginClasses(); }, "DDI 0/300"},
                    {[&] { p.ProcessedClasses(301); }, "DDI 300/300"},
                    {[&] { p.EndClasses(); }, "DDD 300/300"}});
}

TEST(ScanProgressTest, WithoutImportedLibrariesTheFirstInterfaceEventSwitchesStages) {
    polluxtest::ScanProgress p({10, 5, 0, 80});
    ExpectShown(p, {{[&] { p.BeginTypeLibraries(); p.ProcessedTLibs(5); }, "INN 5/5"},
                    {[&] { p.ProcessedInterfaces(50); }, "DIN 50/80"}});
}
