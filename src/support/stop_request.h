#pragma once

#include <functional>

// Close or a signal asks the DC's exchanges to stop: every wait honours it until the one who asked clears it.
// The wizard asks and clears; the link and the update's own waits only read it.
class StopRequest {
public:
    void Ask() {
        if (!asked_ && OnAsked)
            OnAsked();
        asked_ = true;
    }
    void Clear() { asked_ = false; }
    bool Asked() const { return asked_; }

    std::function<void()> OnAsked;  // the moment a stop is asked, for the run log

private:
    bool asked_ = false;
};
