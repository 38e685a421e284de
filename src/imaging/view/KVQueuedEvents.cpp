#include "imaging/view/KVQueuedEvents.h"

#include <QMetaObject>
#include <QObject>

TKVProgressEvent KVQueuedProgress(QObject* receiver, TKVProgressEvent handler) {
    return [receiver, handler = std::move(handler)](TObject* sender, int percent) {
        QMetaObject::invokeMethod(receiver, [handler, sender, percent] { handler(sender, percent); }, Qt::QueuedConnection);
    };
}

std::function<void(TObject*)> KVQueuedNotify(QObject* receiver, std::function<void(TObject*)> handler) {
    return [receiver, handler = std::move(handler)](TObject* sender) {
        QMetaObject::invokeMethod(receiver, [handler, sender] { handler(sender); }, Qt::QueuedConnection);
    };
}
