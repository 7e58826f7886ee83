#pragma once

#include <cstddef>

#include "fakes/wired_wizard.h"

// The faults a test starts while the wizard runs, as the frame that starts them is about to go out.
enum Fault { PowerLoss, CablePulled, Refusals, Noise, Pieces, CloseYes, LostFrames, LateReply, kFaults };
inline const char* const kFaultNames[] = {"power loss", "cable pulled", "refusals",    "line noise",
                                          "in pieces",  "Close, Yes",   "lost frames", "late reply"};

// size: refusals of each command and phase, frames lost, or the first piece of a reply; seconds: how late the
// reply comes. Close is clicked while that frame waits for its reply, answered Yes, then the recovery Yes,
// OK, OK and no answer; *framesAtClose receives the frames sent by then.
inline void StartFault(WiredWizard& w, Fault fault, int size, double seconds,
                       std::size_t* framesAtClose = nullptr) {
    DcFaults& f = w.f.sim.Device().Faults();
    const int next = w.f.sim.Device().FrameCount() + 1;
    switch (fault) {
        case PowerLoss:
            f.silentFromFrame = next;
            break;
        case CablePulled:
            w.f.sim.Serial().Unplug();
            break;
        case Refusals:
            for (const int command : {0x84, 0xA8, 0xBA, 0xB4, 0xB5, 0xB7, 0xB2, 0xB6, 0xB8, 0xB9, 0x97}) {
                for (const DcPhase half : {DcPhase::Command, DcPhase::Data})
                    f.refusals.push_back({std::uint8_t(command), half, size});
            }
            break;
        case Noise:
            f.strayByte = 0x3F, w.f.sim.StartChatter();
            break;
        case Pieces:
            f.splitSizes = {size, 3, 2};
            break;
        case CloseYes:
            w.During([&w, framesAtClose] {
                if (framesAtClose)
                    *framesAtClose = w.f.sim.Sent().size();
                w.f.view.answers = {IdYes, IdYes, IdOk, IdOk, IdNoAnswer};
                w.machine->CloseClick();
            });
            break;
        case LostFrames:
            f.silenceStartFrame = next, f.silenceFrameCount = size;
            break;
        case LateReply:
            f.lateFrame = next, f.lateBy = seconds;
            break;
        case kFaults:
            break;
    }
}
