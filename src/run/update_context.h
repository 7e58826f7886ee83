#pragma once

#include <functional>

#include "link/comm_module.h"
#include "link/event_pump.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/wizard_view.h"
#include "support/clock.h"
#include "support/process_priority.h"
#include "support/text_database.h"

// What the update's steps work with: the session's state, the link to the DC, and the wizard's task list,
// texts and boxes. ResetStage returns the wizard to normal priority with Back enabled.
struct UpdateContext {
    Session& session;
    CommModule& comm;
    TaskList& tasks;
    const TextDatabase& texts;
    WizardView& view;
    const Clock& clock;
    EventPump& pump;
    PriorityControl& priority;
    std::function<void()> ResetStage;

    QString Text(Txt id) const { return texts.GetText(id); }
    // A step's own failure text, unless Close stopped the link: then that is why the step failed.
    QString FailureText(Txt own) const { return Text(comm.Stopped() ? Txt::StoppedByClose : own); }
    // The clock record's date and time texts for now.
    void SetDeviceClockNow() {
        const QDateTime now = clock.LocalNow();
        comm.SetDeviceClock(ClockDateText(now), ClockTimeText(now), CommModule::kClockValue);
    }
};
