#pragma once

#include "link/device_link.h"
#include "link/event_pump.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/wizard_view.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/stop_request.h"
#include "support/text_database.h"

// What the update's steps work with: the run's folders, firmware and profile, the link to the DC, and the
// wizard's task list, texts and boxes.
struct UpdateContext {
    Session& session;
    DeviceLink& link;
    TaskList& tasks;
    const TextDatabase& texts;
    WizardView& view;
    const Clock& clock;
    EventPump& pump;
    PriorityControl& priority;
    const StopRequest& stop;  // Close or a signal: asked by the wizard, honoured by every wait

    QString Text(Txt id) const { return texts.GetText(id); }
    // A step's own failure text, unless Close stopped the link: then that is why the step failed.
    QString FailureText(Txt own) const { return Text(stop.Asked() ? Txt::StoppedByClose : own); }
    bool SetDeviceClockNow() { return link.SetClock(ClockRecordFor(clock.LocalNow())); }
    // A step that failed gives the PC back its normal pace at once.
    void NormalPriority() { priority.SetProcessPriority(0, 0, PriorityNormal); }
};
