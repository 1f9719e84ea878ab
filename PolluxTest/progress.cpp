#include "progress.h"

namespace polluxtest {

const char* ImageKey(StageImage image) {
    switch (image) {
    case StageImage::NotYet: return "NotYet";
    case StageImage::InProgress: return "InProgress";
    case StageImage::Done: return "Done";
    }
    return "";
}

// Every move of the bar stops at its maximum.
void ScanProgress::SetValue(long value) { display_.value = value > display_.maximum ? display_.maximum : value; }

void ScanProgress::BeginTypeLibraries() {
    display_.tLibs = StageImage::InProgress;
    display_.value = 0;
    display_.maximum = totals_.tLibs + totals_.importedTLibs;
}

void ScanProgress::EndTypeLibraries() { display_.interfaces = StageImage::Done; }

void ScanProgress::BeginClasses() {
    display_.value = 0;
    display_.maximum = totals_.compClasses;
    display_.classes = StageImage::InProgress;
}

void ScanProgress::EndClasses() { display_.classes = StageImage::Done; }

void ScanProgress::SwitchToInterfaces() {
    tLibStageDone_ = true;
    display_.tLibs = StageImage::Done;
    display_.interfaces = StageImage::InProgress;
    display_.value = 0;
    display_.maximum = totals_.interfaces;
}

void ScanProgress::ProcessedTLibs(long amount) { SetValue(amount); }

void ScanProgress::ProcessedImportedTLibs(long amount) {
    if (tLibStageDone_) return;
    SetValue(display_.value + amount);
    if (amount == totals_.importedTLibs) SwitchToInterfaces();
}

// A scan without imported libraries switches at its first interface event.
void ScanProgress::ProcessedInterfaces(long amount) {
    if (!tLibStageDone_) SwitchToInterfaces();
    SetValue(amount);
}

void ScanProgress::ProcessedClasses(long amount) { SetValue(amount); }

}  // namespace polluxtest
