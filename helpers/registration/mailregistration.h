#pragma once

// Registration of our mail clients: one HKLM\SOFTWARE\Clients\Mail\<client> entry (display name as
// the default value, "DllPath") for each desktop mail program that is installed, and the default
// client taken from the desktop's handler of mailto: addresses.

#include "automation/hresult.h"

#include <QString>

namespace tavrelo::registration::mailregistration {

// Removes the entries an earlier registration wrote, then writes those of the programs on PATH
// whose client library lies in the clients folder beside `helpersLibrary`. The default client is
// set unless the present default names a client that is not ours.
HRESULT registerClients(const QString &helpersLibrary);

// Removes our entries, the default value when it names one of them, and the Mail and Clients keys
// when nothing else is left in them.
HRESULT unregisterClients();

} // namespace tavrelo::registration::mailregistration
