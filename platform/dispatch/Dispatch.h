#pragma once
// Dispatch: queues, groups, semaphores, once, apply, delayed work and sources.
//
//   auto q = dispatch::queueCreate("DispatchSocket");            // serial
//   dispatch::async(q, [] { ... });                              // later, one block at a time
//   dispatch::sync(q, [&] { ... });                              // on this thread, in turn
//   dispatch::after(0.5, dispatch::mainQueue(), [] { ... });     // main queue: main run loop
//   dispatch::setSpecific(q, &kKey, this);                       // then getSpecific(&kKey)
//   auto src = dispatch::sourceCreate(dispatch::SourceType::Read, fd, 0, q);
//   src->setEventHandler([src] { auto n = src->data(); ... });
//   src->setCancelHandler([fd] { ::close(fd); });
//   src->resume();  ...  src->cancel();
//
// Queues, groups, semaphores and sources are ns::Ref objects; a queue stays alive while blocks
// are queued on it or running. Times are seconds on ns::Clock (dispatch::time(delta)), so the
// virtual clock drives `after` and timer sources in tests.
//
// Layering: pl_dispatch sits on pl_runloop. The main queue keeps its blocks here and registers a
// run-loop source on the main run loop in the common modes; queuing a block signals that source
// and wakes the loop, which then drains the queue. The run loop knows nothing of dispatch.
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Once.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/Source.h"
#include "platform/dispatch/Time.h"
