#pragma once

class QWebEngineUrlRequestJob;

namespace tavrelo::htahost {

// The synchronous bridge: calls that the page script sends to res:///$bridge/<token>/<method>,
// where the page's request guard has put the page's token. Calls are checked, then carried out
// from the host's own event loop, never inside the engine's request handling, so that members
// may show menus and dialogs; the request is answered when the call has finished.


void handleBridgeRequest(QWebEngineUrlRequestJob *job);

} // namespace tavrelo::htahost
