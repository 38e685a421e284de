#pragma once
// Events of a component that works in the background, taken on the thread of a window: each call is
// queued there, and dropped when the window is gone by then. The window must outlive the
// component's background operations (wait for them before it goes).
#include <functional>

#include "imaging/core/KVProgress.h"

class QObject;

TKVProgressEvent KVQueuedProgress(QObject* receiver, TKVProgressEvent handler);
std::function<void(TObject* sender)> KVQueuedNotify(QObject* receiver, std::function<void(TObject* sender)> handler);
