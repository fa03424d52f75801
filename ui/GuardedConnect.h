// Event handlers of the window and its panels are connected through here, so that every one
// runs inside the guard: an error it lets escape ends up in the error box instead of in Qt's
// event loop.
#pragma once

#include "ui/Platform.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

namespace velmora {

// Connects Signal of Sender to Handler, which runs guarded; the connection goes with Context.
template <typename TSender, typename TSignal, typename THandler>
QMetaObject::Connection ConnectGuarded(IPlatform& Platform, TSender* Sender, TSignal Signal,
                                       QObject* Context, THandler Handler) {
  return QObject::connect(Sender, Signal, Context, [&Platform, Handler = std::move(Handler)] {
    RunGuarded(Platform, Handler);
  });
}

}  // namespace velmora
