// The error report of a program without a display.
#pragma once

#include "core/errorreport.h"
#include "core/logqueue.h"
#include "engine/clock.h"

namespace tavoxa {

// Writes each report to standard error with the time and the program's name: a program without
// a display has nobody to answer a box.
class StderrReport : public ErrorReport {
public:
    explicit StderrReport(const Clock& clock) : clock_(clock) {}
    // Reports go through `queue` (not owned) from now on, never waiting on standard error.
    void SetQueue(LogQueue* queue) { queue_ = queue; }
    void Report(const QString& text) override;

private:
    const Clock& clock_;
    LogQueue* queue_ = nullptr;
};

}  // namespace tavoxa
