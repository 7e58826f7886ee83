#pragma once

// Close or a signal asks the DC's exchanges to stop: every wait honours it until the one who asked clears it.
// The wizard asks and clears; the link and the update's own waits only read it.
class StopRequest {
public:
    void Ask() { asked_ = true; }
    void Clear() { asked_ = false; }
    bool Asked() const { return asked_; }

private:
    bool asked_ = false;
};
