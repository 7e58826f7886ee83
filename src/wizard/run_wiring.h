#pragma once

#include "link/device_link.h"
#include "run/session.h"
#include "run/task_list.h"
#include "run/update_context.h"
#include "support/text_database.h"
#include "wizard/wizard_device.h"

// The parts of one run wired together, once, for the program, the screenshot tool and the tests: the link to
// the DC on a port, the task list, the texts, what the update's steps work with, and the device side the
// stage machine drives. The caller keeps the port, clock, pump and priority, and builds the stage machine on
// `session`, `tasks`, `texts` and `device`.
struct RunWiring {
    RunWiring(WizardView& view, Port& port, const Clock& clock, EventPump& pump, PriorityControl& priority,
              CableCheck* cable = nullptr)
        : link(port, clock, pump, stop),
          tasks(view, clock),
          context{session, link, tasks, texts, view, clock, pump, priority, stop},
          device(context, stop, cable) {}

    Session session;
    StopRequest stop;
    DeviceLink link;
    TaskList tasks;
    TextDatabase texts;
    UpdateContext context;
    WizardDevice device;
};
