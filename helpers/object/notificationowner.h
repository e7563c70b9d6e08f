#pragma once

// The helper object as the owner of its notification window (messagingmembers.cpp).

#include "messaging/notificationwindow.h"

#include <memory>

namespace tavrelo::helpers {

class Quillet;

// The notification window of `object`, which answers the window's calls.
std::unique_ptr<tavrelo::messaging::NotificationWindow> makeNotificationWindow(Quillet *object);

} // namespace tavrelo::helpers
