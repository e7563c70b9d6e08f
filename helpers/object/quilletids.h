#pragma once

// The identities of the helper library: its type library, the helper class, its interface and
// its event interface, and the DISPIDs of the events.

#include "automation/dispatch.h"
#include "automation/guid.h"

namespace tavrelo::helpers {

inline const GUID LIBID_TAVRELOHELPERSLib{0xC588105E, 0x4E66, 0x11D4, 0xB7, 0xAB, 0x00, 0xC0, 0xF0, 0x49, 0x03, 0xDC};
inline const CLSID CLSID_Quillet{0xC588106B, 0x4E66, 0x11D4, 0xB7, 0xAB, 0x00, 0xC0, 0xF0, 0x49, 0x03, 0xDC};
inline const IID IID_IQuillet{0xC588106A, 0x4E66, 0x11D4, 0xB7, 0xAB, 0x00, 0xC0, 0xF0, 0x49, 0x03, 0xDC};
inline const IID DIID__DIQuilletEvents{0x980BB471, 0x783C, 0x11D4, 0xB7, 0xD9, 0x00, 0xC0, 0xF0, 0x49, 0x03, 0xDC};

// The version of the type library the object binds to.
inline constexpr std::uint16_t kQuilletLibMajor = 1;
inline constexpr std::uint16_t kQuilletLibMinor = 0;

// Events of _DIQuilletEvents.
inline constexpr DISPID DISPID_ONFILECHANGED = 1;
inline constexpr DISPID DISPID_ONFILEOPENREQUEST = 2;
inline constexpr DISPID DISPID_ONBUSY = 3;

} // namespace tavrelo::helpers
