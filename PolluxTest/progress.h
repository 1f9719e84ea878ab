// What the scanner window shows: the three stage pictures and the progress
// bar, moved by the scan's progress events. Kept apart from the window so
// the rules can be checked without one.
#pragma once

namespace polluxtest {

enum class StageImage { NotYet, InProgress, Done };
const char* ImageKey(StageImage image);  // "NotYet", "InProgress", "Done"

struct Totals {
    long compClasses = 0, tLibs = 0, importedTLibs = 0, interfaces = 0;
};

struct Display {
    StageImage tLibs = StageImage::NotYet, interfaces = StageImage::NotYet, classes = StageImage::NotYet;
    long value = 0, maximum = 0;
};

class ScanProgress {
public:
    explicit ScanProgress(const Totals& totals) : totals_(totals) {}

    void BeginTypeLibraries();
    void EndTypeLibraries();
    void BeginClasses();
    void EndClasses();

    void ProcessedTLibs(long amount);
    void ProcessedImportedTLibs(long amount);
    void ProcessedInterfaces(long amount);
    void ProcessedClasses(long amount);

    const Display& display() const { return display_; }

private:
    void SwitchToInterfaces();
    void SetValue(long value);

    Totals totals_;
    Display display_;
    bool tLibStageDone_ = false;
};

}  // namespace polluxtest
